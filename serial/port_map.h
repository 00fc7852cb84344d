// Port numbers and device paths: COMn is the name the user, the settings file and the
// command line use; on Linux it stands for a tty device. An entry of the settings' port map
// names the device of a port outright; otherwise the number picks a device by a fixed
// convention, in blocks of 32 per driver family.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace trelvo {

inline constexpr uint32_t MAX_PORT_NUMBER = 255;
inline constexpr std::string_view DEFAULT_DEVICE_ROOT = "/dev";

// "COM3" for port 3.
std::string port_name(uint32_t port_number);

// The device path of port n: the port map's entry for n when there is one; otherwise
// COM1-32 -> <root>/ttyS0-31, COM33-64 -> ttyUSB0-31, COM65-96 -> ttyACM0-31,
// COM97-128 -> ttyAMA0-31. Empty for every other number (no device), and for 0 or
// numbers above 255 even when the map names one.
std::string port_device_path(const std::map<uint32_t, std::string>& port_map, uint32_t port_number,
                             std::string_view device_root = DEFAULT_DEVICE_ROOT);

// True for the built-in UARTs' devices (".../ttyS<digits>"): the kernel creates these
// nodes whether or not a UART sits behind them.
bool is_builtin_uart_path(std::string_view path);

// The UART type the driver reports for an open tty (TIOCGSERIAL); nullopt when the device
// does not answer that request (pseudo-terminals, most USB adapters).
std::optional<int> probe_uart_type(int fd);

// Whether an opened device counts as absent: a built-in UART device whose driver reports
// the type "unknown", that is, no hardware behind the node.
bool counts_as_absent(std::string_view path, std::optional<int> uart_type);

}  // namespace trelvo

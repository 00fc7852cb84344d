#include "serial/port_map.h"

#include <linux/serial.h>
#include <sys/ioctl.h>

#include <array>

namespace trelvo {

namespace {

// Device name prefixes by block of 32 port numbers, starting at COM1.
constexpr std::array<std::string_view, 4> DEVICE_FAMILIES = {"ttyS", "ttyUSB", "ttyACM", "ttyAMA"};
constexpr uint32_t PORTS_PER_FAMILY = 32;

}  // namespace

std::string port_name(uint32_t port_number) {
    return "COM" + std::to_string(port_number);
}

std::string port_device_path(const std::map<uint32_t, std::string>& port_map, uint32_t port_number,
                             std::string_view device_root) {
    if (port_number == 0 || port_number > MAX_PORT_NUMBER) return {};
    if (auto it = port_map.find(port_number); it != port_map.end() && !it->second.empty())
        return it->second;
    uint32_t index = port_number - 1;
    uint32_t family = index / PORTS_PER_FAMILY;
    if (family >= DEVICE_FAMILIES.size()) return {};
    std::string path(device_root);
    if (!path.empty() && path.back() != '/') path += '/';
    path += DEVICE_FAMILIES[family];
    path += std::to_string(index % PORTS_PER_FAMILY);
    return path;
}

bool is_builtin_uart_path(std::string_view path) {
    size_t slash = path.rfind('/');
    std::string_view name = slash == std::string_view::npos ? path : path.substr(slash + 1);
    if (name.size() <= 4 || name.substr(0, 4) != "ttyS") return false;
    for (char c : name.substr(4)) {
        if (c < '0' || c > '9') return false;
    }
    return true;
}

std::optional<int> probe_uart_type(int fd) {
    serial_struct info{};
    if (ioctl(fd, TIOCGSERIAL, &info) != 0) return std::nullopt;
    return info.type;
}

bool counts_as_absent(std::string_view path, std::optional<int> uart_type) {
    return is_builtin_uart_path(path) && uart_type.has_value() && *uart_type == PORT_UNKNOWN;
}

}  // namespace trelvo

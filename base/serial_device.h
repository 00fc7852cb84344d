// The serial device seam: one open device, configured for the tester's line, with reads
// that return at once and writes that never block. Implementations: POSIX termios
// (serial/posix_serial_device.h) and in-memory pairs for tests (tests/support/memory_device.h).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace trelvo {

// Why an open or an operation failed; the text of the error says which device and why.
enum class DeviceError {
    None,
    NoDevice,      // no such device, or no hardware behind it
    Busy,          // held by another program (access denied)
    NoPermission,  // not allowed to open it (access denied)
    Unsupported,   // a setting the device refuses (for example the baud rate)
    Io,            // any other failure
    Lost,          // the device went away while open (unplugged USB adapter)
    ModemLines,    // the driver refuses to set DTR/RTS
};

// The line settings the tester needs: 8N1, binary, XON/XOFF both ways with 0x11/0x13,
// DTR off, RTS on. `baud` 0 keeps the port's current rate.
struct LineSettings {
    uint32_t baud = 0;
    bool output_flow_control = true;  // stop sending while the tester holds us off (XOFF)
    bool input_flow_control = true;   // send XOFF when our receive queue fills
};

class SerialDevice {
  public:
    virtual ~SerialDevice() = default;

    // Reads the device's current configuration; false when it cannot be read.
    virtual bool read_configuration() = 0;
    // Applies the line settings; false when the device refuses them.
    virtual bool apply_configuration(const LineSettings& settings) = 0;
    // Switches XON/XOFF on output alone, the rest of the configuration unchanged.
    virtual bool set_output_flow_control(bool on) = 0;
    // Discards everything received and not yet read.
    virtual void purge_input() = 0;

    // Reads at most `capacity` bytes that have already arrived. Returns the count (0 when
    // nothing is there yet) or -1 when the device failed; never waits.
    virtual long read(uint8_t* buffer, size_t capacity) = 0;
    // Hands as many of the bytes to the device as it takes now. Returns the count taken
    // (possibly 0) or -1 when the device failed; never waits.
    virtual long write(const uint8_t* data, size_t size) = 0;

    // Waits at most `ms` for input to arrive; returns at once when some is there. The engine
    // never waits here (it sleeps in its event loop); helpers that play the other side of
    // the line do.
    virtual void wait_readable(uint32_t ms) = 0;
    // Waits at most `ms` until the device can take more output.
    virtual void wait_writable(uint32_t ms) = 0;

    // The rate the line runs at, in baud; 0 when the device cannot tell (the line then
    // counts as taking bytes at once).
    virtual uint32_t line_baud() const { return 0; }
    // Bytes handed over and not yet on the line (the driver's output queue); 0 when the
    // device cannot tell.
    virtual size_t output_queued() const { return 0; }

    // A descriptor that polls readable when input has arrived and writable when the device
    // takes more output; -1 when the device has none (the engine then polls on its period).
    virtual int wait_handle() const { return -1; }

    // The last failure and its reason ("/dev/ttyUSB0: device disconnected").
    virtual DeviceError last_error() const = 0;
    virtual std::string error_text() const = 0;
};

// Result of opening a port: a device, or the reason there is none.
struct OpenResult {
    std::unique_ptr<SerialDevice> device;
    DeviceError error = DeviceError::None;
    std::string reason;  // for the second line of the message: device path and why
};

// Opens the device behind port number n (COMn). The real one resolves n through the port
// map (port_map.h); tests hand out in-memory devices.
class DeviceOpener {
  public:
    virtual ~DeviceOpener() = default;
    virtual OpenResult open(uint32_t port_number) = 0;
};

}  // namespace trelvo

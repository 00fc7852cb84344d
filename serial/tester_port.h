// The one serial connection to the tester, on top of a SerialDevice: command and block
// writes that never block (their unwritten rest is the pending write that poll_write
// finishes), the five non-blocking read routines the engine polls on its ticks, the
// output flow-control switch and the end-of-run command.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "base/codes.h"
#include "base/control_bytes.h"
#include "base/platform.h"
#include "base/serial_device.h"
#include "base/settings_state.h"

namespace trelvo {

inline constexpr size_t REPLY_BUFFER_SIZE = 3000;
inline constexpr size_t MAX_REPLY_LINE = 100;  // characters before the LF
// A multi-line reply that has not reached its ETX line this long after it was asked for
// is given up: a tester that falls silent or streams without end cannot hold a run.
inline constexpr uint32_t LINES_LIMIT_MS = 10'000;

class TesterPort {
  public:
    TesterPort(std::unique_ptr<SerialDevice> device, TickCounter& clock);
    ~TesterPort();

    // Writes `text` (a command line). Returns `next` when the whole text was taken at once;
    // otherwise keeps `next` as the pending result and returns SR_WRITE_PENDING.
    // SR_WRITE_FAILED when the device refused the write outright.
    StepResult write_command(std::string_view text, StepResult next);
    // The same for a block of bytes.
    StepResult write_block(const uint8_t* data, size_t size, StepResult next);
    // Without waiting: SR_WRITE_BUSY while the pending write goes on, then the kept result;
    // SR_WRITE_FAILED when the device failed meanwhile.
    StepResult poll_write();
    // Abandons the pending write (the run was broken off); the next write starts afresh.
    void release_write_event();
    bool write_pending() const;
    // Milliseconds before the next byte may go: a command line is followed by a short
    // quiet while the tester parses it, counted from when its last byte has left the wire
    // (the line's rate and the driver's output queue tell); writes started meanwhile wait
    // as pending writes.
    uint32_t write_hold_ms();
    // Holds the next byte back for `ms` from now (or longer, if a command line asked so).
    void hold_output(uint32_t ms);

    // The device's descriptor for waking the engine when input arrives or output may go;
    // -1 when there is none.
    int wait_handle() const;
    // A new wait begins: a reply line or packet left half-read by the last one is dropped.
    void begin_wait();
    // Part of a reply line or packet has arrived and the rest is awaited.
    bool receiving() const;
    // Tick count at which the last byte came from the tester (at first: the port's opening).
    uint32_t last_input_ms() const;

    // Read routines: each returns at once when nothing has arrived; 1 when the awaited
    // reply is complete (see each), else 0.
    // A line or packet may take several calls to arrive whole: the part read so far is
    // kept, and dropped when it falls silent (100 ms inside a line; more than 1 s inside a
    // packet, which then reads as a stall).
    int read_line();           // one line ending in LF into the reply buffer, NUL-terminated
    int read_lines();          // lines into the directory text up to a line starting with ETX
                               // (or until the bounds of begin_lines end it: see lines_end)
    int read_expected_byte();  // 1 when a byte equal to expected_byte arrived
    int read_byte();           // 1 when any byte arrived (it is in reply[0])
    int read_block();          // a 133/1029-byte packet, or EOT/CAN; 0xFD in reply[0] on stall

    // Purges the receive queue, then switches XON/XOFF on output on or off.
    void set_output_flow_control(bool on);
    // Flow control off; a write still pending (the cancel sequence) goes out first, then
    // "\nSYST:COMM:LOCAL\n"; both get 2 seconds in all to leave; flow control on.
    void return_to_local();

    // Reply buffer: byte 0 is the last one-byte reply or the first byte of the last line
    // (0xFD = timeout marker).
    std::array<uint8_t, REPLY_BUFFER_SIZE> reply{};
    // The byte read_expected_byte waits for ("C" when waiting for the receiver).
    uint8_t expected_byte = 0;
    // Lines of multi-line replies, each followed by LF; grows as lines come (the line limit
    // of begin_lines bounds it).
    std::string directory_text;
    uint32_t directory_lines = 0;

    // How the last multi-line reply ended: its ETX line; one line more than the limit came
    // (the rest is left unread); or LINES_LIMIT_MS passed without the ETX line.
    enum class LinesEnd { Reading, Etx, TooManyLines, OutOfTime };
    LinesEnd lines_end = LinesEnd::Reading;
    // A multi-line reply is asked for now: read_lines takes lines while directory_lines is
    // below `line_limit`, and ends the reply after LINES_LIMIT_MS.
    void begin_lines(uint32_t line_limit);

    // The reply line after read_line returned 1.
    std::string_view reply_line() const;

    // The device failed (a write refused, or the device lost); the reason for the message.
    bool failed() const;
    std::string failure_text() const;

    SerialDevice& device() { return *device_; }

  private:
    StepResult start_write(const uint8_t* data, size_t size, StepResult next, bool command);
    // Pushes the pending write out (waiting on the device) until 2 s after `start`; false
    // when it did not go.
    bool finish_write(uint32_t start);

    struct Impl;
    std::unique_ptr<Impl> impl_;
    std::unique_ptr<SerialDevice> device_;
    TickCounter& clock_;
};

// Opens and configures the port of the settings state (port number, baud-rate index) for
// a run. On failure reports it the usual way ("Invalid Port COMn\n" with a second line
// naming the device and the reason, "Invalid DCB structure\n", "Invalid Baudrate\n", or
// their error bits in an automatic run) and returns nullptr.
std::unique_ptr<TesterPort> open_tester_port(SettingsState& state, WindowSurface& window,
                                             TickCounter& clock, DeviceOpener& opener);

}  // namespace trelvo

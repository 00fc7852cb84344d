#include "serial/tester_port.h"

#include <algorithm>
#include <cstring>

#include "base/error_table.h"
#include "serial/port_map.h"

namespace trelvo {

namespace {

constexpr uint8_t LF = 0x0A;
constexpr uint8_t CR = 0x0D;

constexpr uint32_t LINE_SILENCE_MS = 100;     // a line breaks off after this much silence
constexpr uint32_t PACKET_SILENCE_MS = 1000;  // a packet stalls after more than this
// A command line is followed by this much quiet, counted from the moment its last byte has
// left the wire, before the PC sends its next byte.
constexpr uint32_t COMMAND_HOLD_MS = 50;
constexpr uint64_t BITS_PER_BYTE = 10;  // start bit, 8 data bits, stop bit

// Milliseconds `bytes` take on the wire at `baud`, rounded up; 0 when the rate is unknown.
uint32_t wire_ms(size_t bytes, uint32_t baud) {
    if (baud == 0) return 0;
    return static_cast<uint32_t>((bytes * BITS_PER_BYTE * 1000 + baud - 1) / baud);
}

// Ticks left until `until` (wrap-safe); 0 once it has passed.
uint32_t ms_left(uint32_t until, uint32_t now) {
    int32_t left = static_cast<int32_t>(until - now);
    return left > 0 ? static_cast<uint32_t>(left) : 0;
}
// The end-of-run command gets this long to leave; a tester that keeps us held off longer
// loses it rather than the program hanging.
constexpr uint32_t LOCAL_WRITE_LIMIT_MS = 2000;
constexpr uint32_t LOCAL_WRITE_STEP_MS = 50;

constexpr std::string_view LOCAL_COMMAND = "\nSYST:COMM:LOCAL\n";

}  // namespace

struct TesterPort::Impl {
    // The write in progress: its bytes, how many the device has taken, and the step
    // result to hand on once all are taken.
    std::vector<uint8_t> pending;
    size_t taken = 0;
    StepResult kept = SR_NEXT;
    bool command = false;  // the write in progress is a command line

    // After a command line has gone the tester may still be parsing it: nothing more goes
    // out until this tick count.
    bool holding = false;
    uint32_t hold_until = 0;

    // When everything handed to the device so far will have left the wire, reckoned from
    // the hand-over times and the line's rate: the kernel takes a command at once, the line
    // takes its time.
    uint32_t wire_free = 0;

    // A reply line or packet that has begun to arrive: the bytes stored in the reply
    // buffer so far, the size awaited (packets) and when the last byte came.
    size_t line_stored = 0;
    size_t block_have = 0;
    size_t block_size = 0;
    uint32_t last_byte = 0;

    // The multi-line reply asked for by begin_lines: its line limit and when it was asked.
    bool lines_bounded = false;
    uint32_t line_limit = 0;
    uint32_t lines_asked = 0;

    // When any read last brought a byte: an unattended run measures the tester's silence.
    TickCounter* clock = nullptr;
    uint32_t last_input = 0;

    bool failed = false;
    std::string failure;

    void note_failure(const SerialDevice& device) {
        if (failed) return;
        failed = true;
        failure = device.error_text();
    }

    // A device read; -1 marks the port failed.
    long read(SerialDevice& device, uint8_t* buffer, size_t capacity) {
        long n = device.read(buffer, capacity);
        if (n < 0) note_failure(device);
        if (n > 0) last_input = clock->now_ms();
        return n;
    }

    void drop_write() {
        pending.clear();
        taken = 0;
    }

    uint32_t hold_left(const SerialDevice& device, uint32_t now) {
        if (!holding) return 0;
        // A command the tester holds back (XOFF) in the driver has not left yet: the quiet
        // begins only after it.
        if (size_t queued = device.output_queued(); queued > 0) {
            uint32_t until = now + wire_ms(queued, device.line_baud()) + COMMAND_HOLD_MS;
            if (ms_left(until, hold_until) > 0) hold_until = until;
        }
        return ms_left(hold_until, now);
    }

    // The device took `count` bytes at `now`: they go on the wire after what is on it already.
    void handed_over(const SerialDevice& device, size_t count, uint32_t now) {
        wire_free = now + ms_left(wire_free, now) + wire_ms(count, device.line_baud());
    }

    // Milliseconds until the last byte handed over has left the wire: what our reckoning
    // says, or longer when the driver still holds more (the tester held us off meanwhile).
    uint32_t wire_left(const SerialDevice& device, uint32_t now) const {
        return std::max(ms_left(wire_free, now),
                        wire_ms(device.output_queued(), device.line_baud()));
    }

    // Hands the device as much of the write in progress as it takes now.
    StepResult push(SerialDevice& device, uint32_t now) {
        if (taken < pending.size()) {
            if (hold_left(device, now) > 0) return SR_WRITE_BUSY;
            while (taken < pending.size()) {
                long n = device.write(pending.data() + taken, pending.size() - taken);
                if (n < 0) {
                    note_failure(device);
                    drop_write();
                    return SR_WRITE_FAILED;
                }
                if (n == 0) return SR_WRITE_BUSY;
                taken += static_cast<size_t>(n);
                handed_over(device, static_cast<size_t>(n), now);
            }
            holding = command;
            hold_until = now + wire_left(device, now) + COMMAND_HOLD_MS;
        }
        drop_write();
        return kept;
    }
};

TesterPort::TesterPort(std::unique_ptr<SerialDevice> device, TickCounter& clock)
    : impl_(std::make_unique<Impl>()), device_(std::move(device)), clock_(clock) {
    impl_->clock = &clock;
    impl_->last_input = clock.now_ms();
}

TesterPort::~TesterPort() = default;

StepResult TesterPort::write_command(std::string_view text, StepResult next) {
    return start_write(reinterpret_cast<const uint8_t*>(text.data()), text.size(), next, true);
}

StepResult TesterPort::write_block(const uint8_t* data, size_t size, StepResult next) {
    return start_write(data, size, next, false);
}

StepResult TesterPort::start_write(const uint8_t* data, size_t size, StepResult next,
                                   bool command) {
    // Only one write is ever in progress: the rest of an abandoned one is dropped here.
    impl_->pending.assign(data, data + size);
    impl_->taken = 0;
    impl_->kept = next;
    impl_->command = command;
    StepResult result = impl_->push(*device_, clock_.now_ms());
    return result == SR_WRITE_BUSY ? SR_WRITE_PENDING : result;
}

StepResult TesterPort::poll_write() {
    return impl_->push(*device_, clock_.now_ms());
}

void TesterPort::release_write_event() {
    impl_->drop_write();
    impl_->kept = SR_NEXT;
}

uint32_t TesterPort::write_hold_ms() {
    return impl_->hold_left(*device_, clock_.now_ms());
}

void TesterPort::hold_output(uint32_t ms) {
    uint32_t until = clock_.now_ms() + ms;
    if (impl_->hold_left(*device_, clock_.now_ms()) < ms) impl_->hold_until = until;
    impl_->holding = true;
}

int TesterPort::wait_handle() const {
    return device_->wait_handle();
}

void TesterPort::begin_wait() {
    impl_->line_stored = 0;
    impl_->block_have = 0;
}

bool TesterPort::receiving() const {
    return impl_->line_stored > 0 || impl_->block_have > 0;
}

uint32_t TesterPort::last_input_ms() const {
    return impl_->last_input;
}

bool TesterPort::write_pending() const {
    return impl_->taken < impl_->pending.size();
}

int TesterPort::read_line() {
    // A line may arrive over several ticks: what came so far stays in the reply buffer.
    size_t& stored = impl_->line_stored;
    for (;;) {
        long n = impl_->read(*device_, &reply[stored], 1);
        if (n < 0) return 0;
        if (n == 0) break;
        impl_->last_byte = clock_.now_ms();
        uint8_t byte = reply[stored];
        if (byte == LF) {
            reply[stored] = 0;
            stored = 0;
            return 1;
        }
        if (byte == CR) reply[stored] = 0;
        // The 101st character without a LF breaks the line off; what follows it is read as
        // the start of the next line.
        if (++stored > MAX_REPLY_LINE) {
            stored = 0;
            return 0;
        }
    }
    // A line that falls silent before its LF is dropped.
    if (stored > 0 && clock_.now_ms() - impl_->last_byte >= LINE_SILENCE_MS) stored = 0;
    return 0;
}

void TesterPort::begin_lines(uint32_t line_limit) {
    impl_->lines_bounded = true;
    impl_->line_limit = line_limit;
    impl_->lines_asked = clock_.now_ms();
    lines_end = LinesEnd::Reading;
}

int TesterPort::read_lines() {
    if (impl_->line_stored == 0) reply[0] = 0;
    for (;;) {
        if (read_line() != 1) break;
        if (reply[0] == ETX) {
            lines_end = LinesEnd::Etx;
            return 1;
        }
        // A line beyond what was asked for ends the reply unstored, so that nothing the
        // tester lists is lost without notice.
        if (impl_->lines_bounded && directory_lines >= impl_->line_limit) {
            lines_end = LinesEnd::TooManyLines;
            return 1;
        }
        directory_text.append(reply_line());
        directory_text.push_back('\n');
        ++directory_lines;
    }
    if (impl_->lines_bounded && clock_.now_ms() - impl_->lines_asked >= LINES_LIMIT_MS) {
        lines_end = LinesEnd::OutOfTime;
        return 1;
    }
    return 0;
}

int TesterPort::read_expected_byte() {
    return impl_->read(*device_, reply.data(), 1) == 1 && reply[0] == expected_byte ? 1 : 0;
}

int TesterPort::read_byte() {
    return impl_->read(*device_, reply.data(), 1) == 1 ? 1 : 0;
}

int TesterPort::read_block() {
    // A packet may arrive over several ticks: what came so far stays in the reply buffer.
    size_t& have = impl_->block_have;
    if (have == 0) {
        if (impl_->read(*device_, reply.data(), 1) != 1) return 0;
        switch (reply[0]) {
            case EOT:
            case CAN:
                return 1;
            case SOH:
                impl_->block_size = SHORT_PACKET_SIZE;
                break;
            case STX:
                impl_->block_size = LONG_PACKET_SIZE;
                break;
            default:
                return 0;  // a stray byte, dropped
        }
        have = 1;
        impl_->last_byte = clock_.now_ms();
    }
    while (have < impl_->block_size) {
        long n = impl_->read(*device_, &reply[have], impl_->block_size - have);
        if (n < 0) return 0;
        if (n == 0) break;
        have += static_cast<size_t>(n);
        impl_->last_byte = clock_.now_ms();
    }
    if (have == impl_->block_size) {
        have = 0;
        return 1;
    }
    // A packet that falls silent inside stalls: the caller answers it with NAK.
    if (clock_.now_ms() - impl_->last_byte > PACKET_SILENCE_MS) {
        have = 0;
        reply[0] = TIMEOUT_MARKER;
        return 1;
    }
    return 0;
}

void TesterPort::set_output_flow_control(bool on) {
    device_->purge_input();
    device_->set_output_flow_control(on);
}

void TesterPort::return_to_local() {
    set_output_flow_control(false);
    // The engine has waited out the quiet after a command line before ending the run.
    impl_->holding = false;
    uint32_t start = clock_.now_ms();
    // A write still pending is the cancel sequence the tester held back: with flow control
    // off it goes now, ahead of the command.
    bool line_free = !write_pending() || finish_write(start);
    if (line_free && write_command(LOCAL_COMMAND, SR_NEXT) == SR_WRITE_PENDING) finish_write(start);
    set_output_flow_control(true);
}

bool TesterPort::finish_write(uint32_t start) {
    StepResult result;
    while ((result = poll_write()) == SR_WRITE_BUSY) {
        uint32_t waited = clock_.now_ms() - start;
        if (waited >= LOCAL_WRITE_LIMIT_MS) {
            release_write_event();
            return false;
        }
        device_->wait_writable(std::min(LOCAL_WRITE_LIMIT_MS - waited, LOCAL_WRITE_STEP_MS));
    }
    return result != SR_WRITE_FAILED;
}

std::string_view TesterPort::reply_line() const {
    const char* text = reinterpret_cast<const char*>(reply.data());
    return std::string_view(text, strnlen(text, reply.size()));
}

bool TesterPort::failed() const {
    return impl_->failed;
}

std::string TesterPort::failure_text() const {
    return impl_->failure;
}

std::unique_ptr<TesterPort> open_tester_port(SettingsState& state, WindowSurface& window,
                                             TickCounter& clock, DeviceOpener& opener) {
    OpenResult opened = opener.open(state.port_number);
    if (!opened.device) {
        // The reason (no such device, busy, the dialout group) goes to the run log too.
        report_error_with_reason(state, window, ERR_COM_PORT,
                                 "Invalid Port " + port_name(state.port_number) + "\n",
                                 opened.reason);
        return nullptr;
    }
    std::unique_ptr<SerialDevice> device = std::move(opened.device);

    LineSettings settings;
    settings.baud = state.baud_index < BAUD_RATES.size() ? BAUD_RATES[state.baud_index] : 0;
    settings.output_flow_control = true;
    settings.input_flow_control = true;

    bool configuration_read = device->read_configuration();
    bool configuration_applied = device->apply_configuration(settings);
    if (!configuration_read) {
        report_error(state, window, ERR_DCB, "Invalid DCB structure\n");
        return nullptr;
    }
    if (!configuration_applied && device->last_error() == DeviceError::ModemLines) {
        report_error_with_reason(state, window, ERR_MODEM_LINES,
                                 "Unable to set the modem control lines (DTR/RTS).\n",
                                 device->error_text());
        return nullptr;
    }
    if (!configuration_applied) {
        report_error(state, window, ERR_BAUDRATE, "Invalid Baudrate\n");
        return nullptr;
    }
    return std::make_unique<TesterPort>(std::move(device), clock);
}

}  // namespace trelvo

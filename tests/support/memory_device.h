// In-memory serial lines on a virtual clock, for tests and for the tester simulator that
// runs inside the program: a MemoryLink has two ends, and the bytes written at one end
// become readable at the other, at once or after a latency and paced at a baud rate.
// Waiting on an end moves the virtual clock, so everything scheduled on it (the other
// side's replies, the pacing of the line) happens while the port routines wait.
//
// Each end is a SerialDevice of its own with knobs for the failures a real port shows
// (writes that stay pending, refused or failing writes, a lost device, refused settings)
// and records of what was asked of it (settings applied, flow control, purges).
#pragma once

#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/serial_device.h"
#include "engine/virtual_clock.h"

namespace trelvo {

struct LinkTiming {
    uint32_t baud = 0;        // 0: bytes arrive at once; else 10 bits per byte at this rate
    uint32_t latency_ms = 0;  // added to every byte's arrival
};

inline constexpr size_t DEFAULT_MEMORY_QUEUE = 2048;

// A noisy line: each byte on its way, in either direction, is changed into another value or
// lost with these chances, decided by a generator seeded with `seed` (the same seed, the
// same noise).
struct LineNoise {
    uint64_t seed = 1;
    uint32_t corrupt_per_million = 0;
    uint32_t drop_per_million = 0;
};
struct NoiseCounts {
    uint64_t corrupted = 0;
    uint64_t dropped = 0;
};

namespace detail {
struct LinkCore;
}

class MemoryEnd : public SerialDevice {
  public:
    MemoryEnd(const MemoryEnd&) = delete;
    MemoryEnd& operator=(const MemoryEnd&) = delete;

    // SerialDevice.
    bool read_configuration() override;
    bool apply_configuration(const LineSettings& settings) override;
    bool set_output_flow_control(bool on) override;
    void purge_input() override;
    long read(uint8_t* buffer, size_t capacity) override;
    // Takes bytes into this end's transmit queue, up to its capacity; from there they go
    // on the line unless the peer holds this end off with XOFF.
    long write(const uint8_t* data, size_t size) override;
    // Advance the virtual clock, firing what falls due, until the condition holds or `ms`
    // have passed; return at once when it holds already.
    void wait_readable(uint32_t ms) override;
    void wait_writable(uint32_t ms) override;
    uint32_t line_baud() const override;
    size_t output_queued() const override { return transmit_.size(); }
    DeviceError last_error() const override { return error_; }
    std::string error_text() const override { return error_text_; }

    // A device that forwards to this end, for code that owns its device (TesterPort,
    // openers). The end counts as open until that device is destroyed; nullptr while it
    // is open already.
    std::unique_ptr<SerialDevice> open_handle();
    bool is_open() const { return open_; }
    int close_count() const { return closes_; }

    // Convenience for the other side of a test: write all of `bytes` (as far as the
    // queue takes them), and take everything that has arrived.
    long send(std::string_view bytes);
    std::string take_received();

    // Knobs.
    void set_name(std::string name) { name_ = std::move(name); }
    void hold_writes(bool hold);            // writes take 0 bytes while held
    void set_write_capacity(size_t bytes);  // transmit queue size
    void fail_writes(bool fail);            // writes return -1 (DeviceError::Io)
    void lose();                            // reads and writes -1 (DeviceError::Lost)
    // This end goes away (its program closed it, its adapter was unplugged): it is lost,
    // and the other end sees the line hung up and is lost too, as a pseudo-terminal is
    // when the program on its other side ends.
    void hang_up();
    void refuse_read_configuration(bool refuse) { refuse_read_ = refuse; }
    void refuse_apply_configuration(bool refuse) { refuse_apply_ = refuse; }
    void refuse_modem_lines(bool refuse) { refuse_modem_lines_ = refuse; }  // ModemLines

    // Records.
    const std::optional<LineSettings>& applied_settings() const { return applied_; }
    bool output_flow_control() const { return output_flow_control_; }
    bool held_off() const { return output_flow_control_ && stopped_; }
    int purge_count() const { return purges_; }
    size_t queued_output() const { return transmit_.size(); }
    size_t readable() const { return receive_.size(); }

  private:
    friend struct detail::LinkCore;
    MemoryEnd(detail::LinkCore& core, int side, std::string name);

    MemoryEnd& peer();
    bool fail(DeviceError error, const std::string& what);
    void start_line();
    void transmit();
    void arrive(const std::vector<uint8_t>& bytes);
    bool can_take_output() const;
    template <class Condition>
    void wait_until(uint32_t ms, Condition condition);

    detail::LinkCore& core_;
    int side_;
    std::string name_;
    std::deque<uint8_t> receive_;
    std::deque<uint8_t> transmit_;
    size_t capacity_ = DEFAULT_MEMORY_QUEUE;
    uint64_t line_free_ns_ = 0;  // when the line is free for this end's next byte
    int transmit_timer_ = 0;     // clock id of the scheduled next transmission, 0 = none
    bool stopped_ = false;       // the peer sent XOFF
    bool output_flow_control_ = false;
    bool hold_ = false;
    bool fail_writes_ = false;
    bool lost_ = false;
    bool refuse_read_ = false;
    bool refuse_apply_ = false;
    bool refuse_modem_lines_ = false;
    bool open_ = false;
    int closes_ = 0;
    int purges_ = 0;
    std::optional<LineSettings> applied_;
    DeviceError error_ = DeviceError::None;
    std::string error_text_;
};

// A line between the PC side and the tester side. The clock must outlive the link and
// every device handed out by its ends.
class MemoryLink {
  public:
    explicit MemoryLink(VirtualClock& clock, LinkTiming timing = {});
    ~MemoryLink();
    MemoryLink(const MemoryLink&) = delete;
    MemoryLink& operator=(const MemoryLink&) = delete;

    MemoryEnd& pc();
    MemoryEnd& tester();
    void set_timing(LinkTiming timing);
    void set_noise(LineNoise noise);
    // The bytes the noise has changed and lost so far.
    NoiseCounts noise_counts() const;

  private:
    std::shared_ptr<detail::LinkCore> core_;
};

// Hands out prepared ends by port number, or a given failure; any other port has no
// device. An end that is open already is busy.
class MemoryOpener : public DeviceOpener {
  public:
    void provide(uint32_t port_number, MemoryEnd& end);
    void refuse(uint32_t port_number, DeviceError error, std::string reason);

    OpenResult open(uint32_t port_number) override;
    // Every port number asked for, in order.
    const std::vector<uint32_t>& requests() const { return requests_; }

  private:
    struct Failure {
        DeviceError error;
        std::string reason;
    };
    std::map<uint32_t, MemoryEnd*> ends_;
    std::map<uint32_t, Failure> failures_;
    std::vector<uint32_t> requests_;
};

}  // namespace trelvo

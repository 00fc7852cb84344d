#include "tests/support/memory_device.h"

#include <algorithm>
#include <functional>

#include "base/control_bytes.h"
#include "serial/port_map.h"

namespace trelvo {

namespace detail {

struct LinkCore : std::enable_shared_from_this<LinkCore> {
    LinkCore(VirtualClock& clock_in, LinkTiming timing_in)
        : clock(clock_in),
          timing(timing_in),
          pc(*this, 0, "memory:pc"),
          tester(*this, 1, "memory:tester") {}

    MemoryEnd& end(int side) { return side == 0 ? pc : tester; }

    // The noise on one byte: false when it is lost, else the byte as it arrives.
    bool pass(uint8_t& byte) {
        if (noise.corrupt_per_million == 0 && noise.drop_per_million == 0) return true;
        uint64_t draw = next_random();
        uint32_t chance = static_cast<uint32_t>(draw % 1'000'000);
        if (chance < noise.drop_per_million) {
            ++counts.dropped;
            return false;
        }
        if (chance < noise.drop_per_million + noise.corrupt_per_million) {
            byte ^= static_cast<uint8_t>(1 + (draw >> 32) % 255);  // never 0: always a change
            ++counts.corrupted;
        }
        return true;
    }
    // splitmix64.
    uint64_t next_random() {
        uint64_t z = (random_state += 0x9E3779B97F4A7C15u);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9u;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBu;
        return z ^ (z >> 31);
    }

    VirtualClock& clock;
    LinkTiming timing;
    LineNoise noise;
    uint64_t random_state = 0;
    NoiseCounts counts;
    MemoryEnd pc;
    MemoryEnd tester;
};

}  // namespace detail

namespace {

constexpr uint64_t NS_PER_MS = 1'000'000;
constexpr uint64_t BITS_PER_BYTE = 10;  // start bit, 8 data bits, stop bit

// An end as a device of its own: keeps the link alive and marks the end closed when it
// is destroyed.
class MemoryHandle : public SerialDevice {
  public:
    MemoryHandle(std::shared_ptr<detail::LinkCore> core, MemoryEnd& end,
                 std::function<void()> on_close)
        : core_(std::move(core)), end_(end), on_close_(std::move(on_close)) {}
    ~MemoryHandle() override { on_close_(); }

    bool read_configuration() override { return end_.read_configuration(); }
    bool apply_configuration(const LineSettings& settings) override {
        return end_.apply_configuration(settings);
    }
    bool set_output_flow_control(bool on) override { return end_.set_output_flow_control(on); }
    void purge_input() override { end_.purge_input(); }
    long read(uint8_t* buffer, size_t capacity) override { return end_.read(buffer, capacity); }
    long write(const uint8_t* data, size_t size) override { return end_.write(data, size); }
    void wait_readable(uint32_t ms) override { end_.wait_readable(ms); }
    void wait_writable(uint32_t ms) override { end_.wait_writable(ms); }
    uint32_t line_baud() const override { return end_.line_baud(); }
    size_t output_queued() const override { return end_.output_queued(); }
    DeviceError last_error() const override { return end_.last_error(); }
    std::string error_text() const override { return end_.error_text(); }

  private:
    std::shared_ptr<detail::LinkCore> core_;
    MemoryEnd& end_;
    std::function<void()> on_close_;
};

}  // namespace

MemoryEnd::MemoryEnd(detail::LinkCore& core, int side, std::string name)
    : core_(core), side_(side), name_(std::move(name)) {}

MemoryEnd& MemoryEnd::peer() {
    return core_.end(1 - side_);
}

bool MemoryEnd::fail(DeviceError error, const std::string& what) {
    error_ = error;
    error_text_ = name_ + ": " + what;
    return false;
}

bool MemoryEnd::read_configuration() {
    if (lost_) return fail(DeviceError::Lost, "device disconnected");
    if (refuse_read_) return fail(DeviceError::Io, "cannot read the line settings");
    return true;
}

bool MemoryEnd::apply_configuration(const LineSettings& settings) {
    if (lost_) return fail(DeviceError::Lost, "device disconnected");
    if (refuse_apply_) return fail(DeviceError::Unsupported, "the device refuses the settings");
    if (refuse_modem_lines_)
        return fail(DeviceError::ModemLines, "cannot drop DTR (Input/output error)");
    applied_ = settings;
    return set_output_flow_control(settings.output_flow_control);
}

bool MemoryEnd::set_output_flow_control(bool on) {
    if (lost_) return fail(DeviceError::Lost, "device disconnected");
    output_flow_control_ = on;
    if (!on) {
        // Like a tty: switching XON/XOFF off releases an output held off by XOFF.
        stopped_ = false;
        start_line();
    }
    return true;
}

void MemoryEnd::purge_input() {
    receive_.clear();
    ++purges_;
}

long MemoryEnd::read(uint8_t* buffer, size_t capacity) {
    if (lost_) {
        fail(DeviceError::Lost, "device disconnected");
        return -1;
    }
    size_t count = std::min(capacity, receive_.size());
    std::copy_n(receive_.begin(), count, buffer);
    receive_.erase(receive_.begin(), receive_.begin() + static_cast<long>(count));
    return static_cast<long>(count);
}

long MemoryEnd::write(const uint8_t* data, size_t size) {
    if (lost_) {
        fail(DeviceError::Lost, "device disconnected");
        return -1;
    }
    if (fail_writes_) {
        fail(DeviceError::Io, "write refused");
        return -1;
    }
    if (hold_ || transmit_.size() >= capacity_) return 0;
    size_t count = std::min(size, capacity_ - transmit_.size());
    transmit_.insert(transmit_.end(), data, data + count);
    start_line();
    return static_cast<long>(count);
}

long MemoryEnd::send(std::string_view bytes) {
    return write(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
}

std::string MemoryEnd::take_received() {
    std::string bytes(receive_.begin(), receive_.end());
    receive_.clear();
    return bytes;
}

void MemoryEnd::hold_writes(bool hold) {
    hold_ = hold;
}

void MemoryEnd::set_write_capacity(size_t bytes) {
    capacity_ = bytes;
}

void MemoryEnd::fail_writes(bool fail) {
    fail_writes_ = fail;
}

void MemoryEnd::lose() {
    lost_ = true;
    transmit_.clear();
    receive_.clear();
    if (transmit_timer_ != 0) core_.clock.cancel(transmit_timer_);
    transmit_timer_ = 0;
}

void MemoryEnd::hang_up() {
    lose();
    peer().lose();
}

std::unique_ptr<SerialDevice> MemoryEnd::open_handle() {
    if (open_) return nullptr;
    open_ = true;
    return std::make_unique<MemoryHandle>(core_.shared_from_this(), *this, [this] {
        open_ = false;
        ++closes_;
    });
}

// Starts the line after it was idle or held off: the next byte begins now at the
// earliest.
void MemoryEnd::start_line() {
    if (transmit_timer_ != 0) return;  // a transmission is under way and goes on by itself
    uint64_t now_ns = core_.clock.now_ms() * NS_PER_MS;
    line_free_ns_ = std::max(line_free_ns_, now_ns);
    transmit();
}

// Puts on the line every queued byte whose transmission has ended by now, hands them to
// the peer (after the latency) and schedules the next round while bytes remain.
void MemoryEnd::transmit() {
    VirtualClock& clock = core_.clock;
    const LinkTiming timing = core_.timing;
    uint64_t now_ns = clock.now_ms() * NS_PER_MS;
    std::vector<uint8_t> sent;
    while (!transmit_.empty() && !held_off()) {
        if (timing.baud != 0) {
            uint64_t done_ns = line_free_ns_ + BITS_PER_BYTE * 1'000'000'000 / timing.baud;
            if (done_ns > now_ns) {
                uint32_t due = static_cast<uint32_t>((done_ns + NS_PER_MS - 1) / NS_PER_MS);
                std::weak_ptr<detail::LinkCore> weak = core_.weak_from_this();
                int side = side_;
                transmit_timer_ = clock.schedule(due, [weak, side] {
                    if (auto core = weak.lock()) {
                        core->end(side).transmit_timer_ = 0;
                        core->end(side).transmit();
                    }
                });
                break;
            }
            line_free_ns_ = done_ns;
        }
        uint8_t byte = transmit_.front();
        transmit_.pop_front();
        if (core_.pass(byte)) sent.push_back(byte);
    }
    if (sent.empty()) return;
    if (timing.latency_ms == 0) {
        peer().arrive(sent);
        return;
    }
    std::weak_ptr<detail::LinkCore> weak = core_.weak_from_this();
    int receiver = 1 - side_;
    clock.schedule(clock.now_ms() + timing.latency_ms, [weak, receiver, sent] {
        if (auto core = weak.lock()) core->end(receiver).arrive(sent);
    });
}

// Bytes arriving from the peer. With output flow control on, XOFF and XON are taken out
// of the data and hold off or release this end's own output.
void MemoryEnd::arrive(const std::vector<uint8_t>& bytes) {
    if (lost_) return;
    for (uint8_t byte : bytes) {
        if (output_flow_control_ && byte == XOFF) {
            stopped_ = true;
        } else if (output_flow_control_ && byte == XON) {
            stopped_ = false;
        } else {
            receive_.push_back(byte);
        }
    }
    if (!held_off()) start_line();  // output that waited for XON goes on
}

bool MemoryEnd::can_take_output() const {
    return lost_ || fail_writes_ || (!hold_ && transmit_.size() < capacity_);
}

template <class Condition>
void MemoryEnd::wait_until(uint32_t ms, Condition condition) {
    VirtualClock& clock = core_.clock;
    uint32_t deadline = clock.now_ms() + ms;
    while (!condition()) {
        std::optional<uint32_t> next = clock.next_due();
        if (!next || *next > deadline) {
            clock.advance_to(deadline);
            return;
        }
        clock.advance_to(*next);
    }
}

void MemoryEnd::wait_readable(uint32_t ms) {
    wait_until(ms, [this] { return lost_ || !receive_.empty(); });
}

uint32_t MemoryEnd::line_baud() const {
    return core_.timing.baud;
}

void MemoryEnd::wait_writable(uint32_t ms) {
    wait_until(ms, [this] { return can_take_output(); });
}

MemoryLink::MemoryLink(VirtualClock& clock, LinkTiming timing)
    : core_(std::make_shared<detail::LinkCore>(clock, timing)) {}

MemoryLink::~MemoryLink() = default;

MemoryEnd& MemoryLink::pc() {
    return core_->pc;
}

MemoryEnd& MemoryLink::tester() {
    return core_->tester;
}

void MemoryLink::set_timing(LinkTiming timing) {
    core_->timing = timing;
}

void MemoryLink::set_noise(LineNoise noise) {
    core_->noise = noise;
    core_->random_state = noise.seed;
    core_->counts = {};
}

NoiseCounts MemoryLink::noise_counts() const {
    return core_->counts;
}

void MemoryOpener::provide(uint32_t port_number, MemoryEnd& end) {
    failures_.erase(port_number);
    ends_[port_number] = &end;
}

void MemoryOpener::refuse(uint32_t port_number, DeviceError error, std::string reason) {
    ends_.erase(port_number);
    failures_[port_number] = Failure{error, std::move(reason)};
}

OpenResult MemoryOpener::open(uint32_t port_number) {
    requests_.push_back(port_number);
    OpenResult result;
    if (auto it = failures_.find(port_number); it != failures_.end()) {
        result.error = it->second.error;
        result.reason = it->second.reason;
        return result;
    }
    auto it = ends_.find(port_number);
    if (it == ends_.end()) {
        result.error = DeviceError::NoDevice;
        result.reason = port_name(port_number) + ": no such device";
        return result;
    }
    result.device = it->second->open_handle();
    if (!result.device) {
        result.error = DeviceError::Busy;
        result.reason = port_name(port_number) + ": in use by another program";
    }
    return result;
}

}  // namespace trelvo

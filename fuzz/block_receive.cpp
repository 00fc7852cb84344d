// The receiving side of the block transfer fed an arbitrary byte stream as the tester's
// side of the line: the PC requests, judges, stores and answers whatever comes. When the
// stream has run dry the user presses Cancel. The run must end, with its file closed and
// nothing created outside the receiving directory.
#include <algorithm>
#include <cstring>
#include <memory>

#include "engine/engine.h"
#include "engine/virtual_clock.h"
#include "fuzz/fuzz_support.h"
#include "protocol/block_receive.h"
#include "serial/tester_port.h"

using namespace trelvo;
using namespace trelvo::fuzz;
namespace fs = std::filesystem;

namespace {

// The tester's side: everything in the stream has arrived; what the PC sends is dropped.
class StreamDevice : public SerialDevice {
  public:
    StreamDevice(std::string_view stream, VirtualClock& clock) : stream_(stream), clock_(clock) {}

    bool read_configuration() override { return true; }
    bool apply_configuration(const LineSettings&) override { return true; }
    bool set_output_flow_control(bool) override { return true; }
    void purge_input() override {}  // the tester has not begun to send when the PC purges
    long read(uint8_t* buffer, size_t capacity) override {
        size_t count = std::min(capacity, stream_.size());
        std::memcpy(buffer, stream_.data(), count);
        stream_.remove_prefix(count);
        return static_cast<long>(count);
    }
    long write(const uint8_t*, size_t size) override { return static_cast<long>(size); }
    void wait_readable(uint32_t ms) override {
        if (stream_.empty()) clock_.advance(ms);
    }
    void wait_writable(uint32_t) override {}
    DeviceError last_error() const override { return DeviceError::None; }
    std::string error_text() const override { return {}; }

    bool dry() const { return stream_.empty(); }

  private:
    std::string_view stream_;
    VirtualClock& clock_;
};

constexpr StepRow receive_rows[] = {
    {step_start_receive, "Request"},
    {step_receive_block, PACKET_TEXT},
    {nullptr, nullptr},
};
constexpr Operation receive_operation = {OP_UPLOAD_MOBILE_LIST, receive_rows, "Receive",
                                         FileChoice::ReceivingFolder, DIR_UL_MS_TYPE};

constexpr uint32_t PATIENCE_MS = 20'000;  // silence after the stream before Cancel
constexpr int TICK_LIMIT = 1'000'000;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const fs::path& dir = empty_scratch_dir();
    fs::create_directory(dir / "in");
    fs::create_directory(dir / "cwd");
    fs::current_path(dir / "cwd");

    VirtualClock clock;
    SettingsState state;
    QuietWindow window;
    window.operation = 2;
    Engine* running = nullptr;
    VirtualTimer timer{clock, [&running](int identifier) { running->engine_tick(identifier); }};
    Engine engine{state, window, clock, timer};
    running = &engine;

    auto device = std::make_unique<StreamDevice>(as_text(data, size), clock);
    StreamDevice& line = *device;
    engine.transfer.directory = (dir / "in").string() + "/";
    engine.step_index = 0;
    engine.start_run(std::make_unique<TesterPort>(std::move(device), clock), receive_operation);

    uint32_t dry_since = 0;
    bool cancelled = false;
    for (int ticks = 0; engine.run_active(); ++ticks) {
        if (ticks == TICK_LIMIT) broken("the run does not end");
        if (!clock.fire_next()) broken("the engine stopped its timer in the middle of a run");
        // At its end the run closes the port, and the device with it.
        if (!engine.run_active() || !line.dry() || cancelled) continue;
        if (dry_since == 0) dry_since = clock.now_ms();
        if (clock.now_ms() - dry_since > PATIENCE_MS) {
            engine.user_break();
            cancelled = true;
        }
    }
    if (engine.transfer.file != nullptr) broken("the received file left open");
    if (!fs::is_empty(dir / "cwd")) broken("a file outside the receiving directory");
    size_t files = std::distance(fs::directory_iterator(dir / "in"), fs::directory_iterator());
    if (files > 1) broken("more than one file from one transfer");
    return 0;
}

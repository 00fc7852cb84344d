// trelvo_bench_transfer: one automatic Firmware Update or Upload Result List through the
// real engine, event loop and termios device against kv70sim on a pseudo-terminal, paced to
// a baud rate. Prints one line of key=value figures: the payload rate, the efficiency (ideal
// wire time of every byte of every packet and answer at 10 bits a byte, over the measured
// time of the block transfer) and the longest engine tick during the transfer.
//
//   trelvo_bench_transfer --kv70sim PATH --direction firmware|results --baud N --size BYTES
//                         [--min-efficiency PERCENT]
//
// Exit status 0 when the run completed, the file arrived byte for byte and the efficiency
// reached the minimum (default none), 1 otherwise.
#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <time.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "base/control_bytes.h"
#include "bench/measured_device.h"
#include "engine/engine.h"
#include "engine/event_loop.h"
#include "operations/operation_table.h"
#include "serial/posix_serial_device.h"
#include "sim/launch.h"
#include "sim/sample_data.h"
#include "window/quiet_window.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using trelvo::bench::LineEvent;

constexpr uint32_t PORT = 5;

struct Options {
    std::string kv70sim;
    std::string direction = "firmware";
    uint32_t baud = 38400;
    size_t size = 256 * 1024;
    double min_efficiency = 0;
};

// One engine tick: when it began, how long it took, and how much of that this thread ran
// (the rest it was waiting for the disk or for a core another program had).
struct Tick {
    Clock::time_point start;
    double ms;
    double cpu_ms;
    int identifier;
};

double thread_cpu_ms() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) * 1e3 + static_cast<double>(now.tv_nsec) / 1e6;
}

std::string read_file(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

void write_file(const fs::path& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

// Starts kv70sim on `line` and waits for its "ready"; its process id, or -1.
pid_t start_tester(const Options& options, const fs::path& scratch, const fs::path& results) {
    std::vector<std::string> args = {"--link",  (scratch / "line").string(),
                                     "--baud",  std::to_string(options.baud),
                                     "--store", (scratch / "store").string()};
    if (!results.empty()) args.insert(args.end(), {"--results", results.string()});
    trelvo::sim::Launched launched =
        trelvo::sim::launch(options.kv70sim, args, (scratch / "kv70sim.log").string());
    if (launched.pid > 0 && launched.first_line.rfind("ready ", 0) != 0) {
        kill(launched.pid, SIGKILL);
        waitpid(launched.pid, nullptr, 0);
        return -1;
    }
    return launched.pid;
}

bool parse(int argc, char** argv, Options& options) {
    for (int i = 1; i + 1 < argc; i += 2) {
        std::string name = argv[i];
        std::string value = argv[i + 1];
        if (name == "--kv70sim") {
            options.kv70sim = value;
        } else if (name == "--direction" && (value == "firmware" || value == "results")) {
            options.direction = value;
        } else if (name == "--baud") {
            options.baud = static_cast<uint32_t>(std::stoul(value));
        } else if (name == "--size") {
            options.size = std::stoul(value);
        } else if (name == "--min-efficiency") {
            options.min_efficiency = std::stod(value);
        } else {
            return false;
        }
    }
    return argc % 2 == 1 && !options.kv70sim.empty() && options.baud > 0 && options.size > 0;
}

}  // namespace

int main(int argc, char** argv) {
    using namespace trelvo;
    Options options;
    if (!parse(argc, argv, options)) {
        std::fprintf(stderr,
                     "usage: trelvo_bench_transfer --kv70sim PATH --direction firmware|results "
                     "--baud N --size BYTES [--min-efficiency PERCENT]\n");
        return 2;
    }
    std::string pattern = (fs::temp_directory_path() / "trelvo-bench-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) return 1;
    const fs::path scratch = pattern;
    fs::create_directories(scratch / "received");
    const bool firmware = options.direction == "firmware";

    // What goes over the line: an image of the size asked, or whole sample result lists
    // up to at least that size.
    std::string payload;
    fs::path results_file;
    if (firmware) {
        payload.resize(options.size);
        for (size_t i = 0; i < payload.size(); ++i)
            payload[i] = static_cast<char>((i * 7 + i / 251) & 0xFF);
        write_file(scratch / "KV72FW.BIN", payload);
    } else {
        const std::string list = sim::sample_result_list(72);
        while (payload.size() < options.size)
            payload += list;
        results_file = scratch / "results.txt";
        write_file(results_file, payload);
    }

    pid_t tester = start_tester(options, scratch, results_file);
    if (tester < 0) {
        std::fprintf(stderr, "kv70sim did not start (see %s)\n", (scratch / "kv70sim.log").c_str());
        return 1;
    }

    SettingsState state;
    state.port_number = PORT;
    state.port_map[PORT] = (scratch / "line").string();
    state.operation_index = firmware ? 0 : 3;
    state.command_line_flags = CMD_AUTOMATIC | CMD_PATH;
    state.command_line_path =
        firmware ? (scratch / "KV72FW.BIN").string() : (scratch / "received").string() + "/";
    QuietWindow window;
    window.operation = static_cast<int>(state.operation_index);
    SystemClock clock;
    EventLoop loop(clock);
    Engine engine(state, window, clock, loop);
    std::vector<Tick> ticks;
    loop.set_timer_handler([&](int identifier) {
        Clock::time_point start = Clock::now();
        double cpu_start = thread_cpu_ms();
        engine.engine_tick(identifier);
        ticks.push_back({start,
                         std::chrono::duration<double, std::milli>(Clock::now() - start).count(),
                         thread_cpu_ms() - cpu_start, identifier});
    });

    std::vector<LineEvent> events;
    events.reserve(1 << 20);
    PosixDeviceOpener real(state);
    bench::MeasuredOpener opener(real, events);
    auto port = open_tester_port(state, window, clock, opener);
    bool finished = false;
    if (port != nullptr) {
        engine.step_index = 0;
        engine.start_run(std::move(port), operation_table[state.operation_index]);
        uint32_t limit_ms =
            static_cast<uint32_t>(options.size * 10'000 / options.baud * 3 + 60'000);
        finished = loop.run_until([&] { return !engine.run_active(); }, limit_ms);
    }
    kill(tester, SIGTERM);
    waitpid(tester, nullptr, 0);

    // The block transfer: from the first packet (firmware) or the first request (results)
    // to the last answer.
    auto first = std::find_if(events.begin(), events.end(), [&](const LineEvent& e) {
        return firmware ? e.written && (e.first == SOH || e.first == STX)
                        : e.written && e.count == 1 && e.first == CRC_REQUEST;
    });
    auto last = std::find_if(events.rbegin(), events.rend(), [&](const LineEvent& e) {
        return firmware ? !e.written : e.written && e.count == 1 && e.first == ACK;
    });
    double seconds = 0;
    size_t wire_bytes = 0;
    Tick longest_tick{};
    double longest_cpu = 0;
    if (first != events.end() && last != events.rend() && first <= last.base() - 1) {
        auto end = last.base();
        Clock::time_point from = first->at;
        Clock::time_point to = (end - 1)->at;
        seconds = std::chrono::duration<double>(to - from).count();
        for (auto e = first; e != end; ++e)
            wire_bytes += e->count;
        // The last answer of an upload is ours: it leaves after the measured time.
        if (!firmware) wire_bytes -= (end - 1)->count;
        for (const Tick& tick : ticks) {
            if (tick.start < from || tick.start > to) continue;
            if (tick.ms > longest_tick.ms) longest_tick = tick;
            longest_cpu = std::max(longest_cpu, tick.cpu_ms);
        }
    }
    double ideal = static_cast<double>(wire_bytes) * 10.0 / options.baud;
    std::string arrived = firmware ? read_file(scratch / "store" / "KV72FW.BIN") : "";
    if (!firmware) {
        for (const auto& entry : fs::directory_iterator(scratch / "received"))
            arrived = read_file(entry.path());
    }
    bool identical = arrived == payload;
    bool completed = finished && window.status[2] == "Completed";

    double efficiency = seconds > 0 ? 100.0 * ideal / seconds : 0.0;
    if (window.messages > 0) std::fprintf(stderr, "message: %s\n", window.last_message.c_str());
    std::printf(
        "direction=%s baud=%u payload=%zu seconds=%.3f rate=%.0f efficiency=%.1f ticks=%zu "
        "longest_tick_ms=%.2f longest_tick_event=%d longest_tick_cpu_ms=%.2f status=%s "
        "identical=%s\n",
        options.direction.c_str(), options.baud, payload.size(), seconds,
        seconds > 0 ? static_cast<double>(payload.size()) / seconds : 0.0, efficiency, ticks.size(),
        longest_tick.ms, longest_tick.identifier, longest_cpu,
        window.status[2].empty() ? "none" : window.status[2].c_str(), identical ? "yes" : "no");
    fs::remove_all(scratch);
    return completed && identical && efficiency >= options.min_efficiency ? 0 : 1;
}

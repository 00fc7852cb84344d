// kv70sim: a simulated KV71/KV72 tester on a pseudo-terminal, for trying the PC program
// without a tester. Prints "ready PATH" once it serves, then serves until SIGINT or SIGTERM.
#include <poll.h>
#include <signal.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "engine/event_loop.h"
#include "sim/config.h"
#include "sim/pty_link.h"
#include "sim/tester.h"
#include "sim/trace.h"

namespace {

volatile sig_atomic_t stop_requested = 0;

extern "C" void request_stop(int) {
    stop_requested = 1;
}

void install_signal_handlers() {
    struct sigaction action {};
    action.sa_handler = request_stop;
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0;  // no restart: a signal ends the wait in poll at once
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    signal(SIGPIPE, SIG_IGN);
}

// Idle wait between services: short while bytes are on their way along the simulated wire,
// so that the wire times hold; otherwise long enough to cost nothing, short enough for the time
// limits.
constexpr int BUSY_POLL_MS = 1;
constexpr int IDLE_POLL_MS = 10;

}  // namespace

int main(int argc, char** argv) {
    using namespace trelvo;
    std::vector<std::string> args(argv + 1, argv + argc);
    sim::ParsedOptions parsed = sim::parse_program_options(args);
    if (!parsed.ok()) {
        std::cerr << "kv70sim: " << parsed.error << "\n" << sim::usage_text();
        return 2;
    }
    sim::ProgramOptions& options = parsed.options;
    if (options.help) {
        std::cout << sim::usage_text();
        return 0;
    }
    std::string error;
    if (!sim::load_option_files(options, error)) {
        std::cerr << "kv70sim: " << error << "\n";
        return 2;
    }
    if (!options.tester.store_dir.empty()) {
        std::error_code failure;
        std::filesystem::create_directories(options.tester.store_dir, failure);
        if (!std::filesystem::is_directory(options.tester.store_dir, failure)) {
            std::cerr << "kv70sim: " << options.tester.store_dir << ": not a directory\n";
            return 2;
        }
    }
    std::ofstream trace_file;
    if (!options.trace.empty()) {
        trace_file.open(options.trace, std::ios::trunc);
        if (!trace_file) {
            std::cerr << "kv70sim: " << options.trace << ": cannot write the trace\n";
            return 2;
        }
    }

    install_signal_handlers();
    std::unique_ptr<sim::PtyLink> link = sim::PtyLink::open(options.link, error);
    if (!link) {
        std::cerr << "kv70sim: " << error << "\n";
        return 1;
    }

    SystemClock clock;
    sim::Tester tester(link->device(), clock, options.tester);
    sim::TraceWriter trace(trace_file, clock.now_ms());
    if (trace_file.is_open()) tester.set_trace(trace.sink());
    tester.set_log([](const std::string& line) { std::cerr << "kv70sim: " << line << "\n"; });

    std::cerr << "kv70sim: " << link->link_path() << " -> " << link->slave_path() << ", "
              << tester.identity() << "\n";
    std::cout << "ready " << options.link << "\n" << std::flush;

    while (!stop_requested) {
        tester.service();
        if (tester.output_failed()) {
            std::cerr << "kv70sim: " << link->device().error_text() << "\n";
            return 1;
        }
        pollfd entry{link->master_fd(), POLLIN, 0};
        bool busy = tester.output_pending() || tester.input_pending();
        poll(&entry, 1, busy ? BUSY_POLL_MS : IDLE_POLL_MS);
    }
    std::cerr << "kv70sim: stopped\n";
    return 0;
}

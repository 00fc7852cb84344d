// The fault soak: seeded runs of every operation against the simulated tester, with random
// faults from its list and random corruption and loss of bytes on the line. A run that
// still waits after ten virtual minutes is broken off with Cancel, as its user would. After
// each run: the final status agrees with the error bits and with what reached the other
// side; a "Completed" transfer's file is byte-identical on both sides; the tester's results
// are cleared only after a complete upload; no file lands outside its directory; no file
// descriptor or temporary file is left. The suite prints what it did when it ends.
#include <gtest/gtest.h>

#include <stdlib.h>
#include <cstdlib>

#include <cstdio>
#include <random>

#include "base/error_table.h"
#include "results/ms_type_list.h"
#include "sim/sample_data.h"
#include "tests/e2e/e2e_fixture.h"

namespace trelvo::e2e {
namespace {

using sim::Fault;

// The suite's seed; TRELVO_SOAK_SEED in the environment soaks other runs.
uint64_t soak_seed() {
    const char* chosen = std::getenv("TRELVO_SOAK_SEED");
    return chosen != nullptr && *chosen != '\0' ? std::strtoull(chosen, nullptr, 10) : 702024;
}
constexpr int SOAK_RUNS = 320;
constexpr uint32_t PATIENCE_MS = 6 * 60 * 1000;  // longer than the longest wait, 300 s

struct Totals {
    int runs = 0, completed = 0, cancelled = 0, closing_lost = 0, noisy = 0, faults = 0,
        invariants = 0;
    uint64_t corrupted = 0, dropped = 0;
};

size_t open_descriptors() {
    return std::distance(fs::directory_iterator("/proc/self/fd"), fs::directory_iterator());
}

// Faults after which a run on a clean line must still complete, by direction.
bool recoverable(Fault fault, bool tester_sends) {
    if (fault == Fault::NakPacket || fault == Fault::Xoff || fault == Fault::IdnUnknown)
        return true;
    return tester_sends && (fault == Fault::CrcError || fault == Fault::StallInBlock);
}

std::string converted_mobile_list(const std::string& path, int model) {
    std::FILE* in = std::fopen(path.c_str(), "rb");
    std::FILE* out = std::tmpfile();
    std::string converted;
    if (convert_ms_type_list(in, model, out) == MsListResult::Converted) {
        char chunk[512];
        for (size_t got; (got = std::fread(chunk, 1, sizeof chunk, out)) > 0;)
            converted.append(chunk, got);
    }
    std::fclose(in);
    std::fclose(out);
    return converted;
}

class Soak : public SimulatedTesterTest, public ::testing::WithParamInterface<int> {
  public:
    static void TearDownTestSuite() {
        std::printf(
            "soak: %d runs (seed %llu): %d completed (%d of them with the closing block lost), "
            "%d broken off with Cancel; %d tester faults injected, %d runs on a noisy line with "
            "%llu bytes corrupted and %llu lost; %d invariants held\n",
            totals.runs, static_cast<unsigned long long>(soak_seed()), totals.completed,
            totals.closing_lost, totals.cancelled, totals.faults, totals.noisy,
            static_cast<unsigned long long>(totals.corrupted),
            static_cast<unsigned long long>(totals.dropped), totals.invariants);
    }

  protected:
    void SetUp() override {
        SimulatedTesterTest::SetUp();
        previous_dir = fs::current_path();
        fs::create_directories(dir / "cwd");
        fs::create_directories(dir / "tmp");
        fs::current_path(dir / "cwd");  // where files fall back to
        if (const char* tmp = std::getenv("TMPDIR")) previous_tmp = tmp;
        ::setenv("TMPDIR", (dir / "tmp").c_str(), 1);
    }
    void TearDown() override {
        fs::current_path(previous_dir);
        if (previous_tmp.empty()) {
            ::unsetenv("TMPDIR");
        } else {
            ::setenv("TMPDIR", previous_tmp.c_str(), 1);
        }
        SimulatedTesterTest::TearDown();
    }

    void check(bool held, const char* invariant) {
        EXPECT_TRUE(held) << invariant << " (run " << GetParam() << ": " << scenario << ")";
        if (held) ++totals.invariants;
    }

    // Every file under the scratch directory lies in "in/" or "out/".
    bool files_in_their_directories() const {
        for (const auto& entry : fs::recursive_directory_iterator(dir)) {
            if (!entry.is_regular_file()) continue;
            std::string top = *fs::relative(entry.path(), dir).begin();
            if (top != "in" && top != "out") return false;
        }
        return true;
    }

    inline static Totals totals;
    fs::path previous_dir;
    std::string previous_tmp;
    std::string scenario;
};

TEST_P(Soak, RunKeepsItsPromises) {
    std::seed_seq seeds{soak_seed(), static_cast<uint64_t>(GetParam())};
    std::mt19937_64 random(seeds);
    auto chance = [&random](int percent) { return static_cast<int>(random() % 100) < percent; };

    int operation = static_cast<int>(random() % 5);
    bool tester_sends = operation == 2 || operation == 3;
    sim::TesterConfig config;
    config.model = chance(50) ? 71 : 72;
    std::vector<Fault> every_fault = sim::all_faults();
    bool expect_completed = true;
    scenario = "operation " + std::to_string(operation) + ", faults";
    for (int i = static_cast<int>(random() % 3); i > 0; --i) {
        Fault fault = every_fault[random() % every_fault.size()];
        config.faults.add(fault);
        expect_completed = expect_completed && recoverable(fault, tester_sends);
        scenario += " " + std::string(sim::fault_name(fault));
        ++totals.faults;
    }
    std::string results;
    for (int i = 1 + static_cast<int>(random() % 6); i > 0; --i)
        results += sim::sample_result_list(config.model);
    config.results = results;
    link.set_timing({chance(50) ? 38400u : 9600u, 0});
    if (chance(50)) {
        link.set_noise({random(), 1000, 1000});
        expect_completed = false;
        scenario += ", noisy line";
        ++totals.noisy;
    }
    start_tester(config);
    // The tester looks at the line every 10 ms rather than every 1 ms: the same exchanges,
    // a tenth of the work for the virtual minutes a run may wait.
    driver.reset();
    driver = std::make_unique<sim::ClockDriver>(clock, *tester, 10);

    std::string sent = pattern(1 + random() % 9000, static_cast<uint32_t>(random()));
    uint32_t options = OPT_OUTPUT_FILE;  // the raw list stays, to compare
    for (uint32_t option : {OPT_EXCEL, OPT_PRINTOUT, OPT_IMEI, OPT_DELETE_ALL})
        options |= chance(50) ? option : 0;
    std::string path;
    switch (operation) {
        case 0:
            automatic(0, path = write("FW.BIN", sent));
            break;
        case 1:
            sent = sim::sample_mobile_list(config.model == 71 ? 72 : 71);
            automatic(1, path = write("LIST.AUT", sent));
            break;
        case 2:
        case 3:
            automatic(operation, dir / "out", options);
            break;
        case 4:
            automatic(4, path = write("AUTO.DLD", sent));
            break;
    }
    std::string held_results = tester->result_list();
    std::string held_list = tester->mobile_list();
    size_t autotests = tester->autotests().size();
    size_t descriptors = open_descriptors();

    start_run();
    bool ended = run_for(PATIENCE_MS);
    bool cancelled = !ended;
    if (cancelled) {
        engine.user_break();
        ended = run_for(60'000);
    }

    const std::string& status = window.status[2];
    bool completed = status == "Completed";
    bool results_received = read_file(dir / "out" / "RESULTS.TXT") == held_results;
    bool delivered = false;
    switch (operation) {
        case 0:
            delivered =
                tester->files().count("FW.BIN") == 1 && tester->files().at("FW.BIN") == sent;
            break;
        case 1:  // converted for the model the identification found
            delivered =
                tester->mobile_list() == converted_mobile_list(path, engine.state.model_code);
            break;
        case 2:
            delivered =
                read_file(dir / "out" / std::string(sim::BUILT_IN_MOBILE_LIST_NAME)) == held_list;
            break;
        case 3:
            delivered = results_received;
            break;
        case 4:  // in a new slot, none of the tester's autotests replaced
            delivered = tester->autotests().size() == autotests + 1 &&
                        tester->autotests().back().contents == sent;
            break;
    }
    check(ended, "the run ends, by Cancel at the latest");
    check(completed || status == "Aborted" || status == "Timeout" || status == "Out of sync",
          "the final status is one of the four");
    check(completed == ((state.error_flags & error_bit(ERR_RUN_FAILED)) == 0),
          "the run-failed bit is set exactly when the run did not complete");
    check(!cancelled || status == "Aborted", "a run broken off with Cancel ends Aborted");
    check(!expect_completed || completed,
          "a run with recoverable faults on a clean line completes");
    // The one way a run completes with the file not taken: the closing block is lost on the
    // line, and EOT, which the PC sends again in its place, is answered with the ACK the PC
    // waits for, while the tester still waits for the closing block and stores nothing.
    bool closing_lost = completed && !delivered && !tester_sends &&
                        link.noise_counts().dropped + link.noise_counts().corrupted > 0 &&
                        tester->received().empty();
    check(!completed || delivered || closing_lost,
          "a completed transfer's file is the same on both sides");
    check(!tester->results_cleared() ||
              (operation == 3 && (options & OPT_DELETE_ALL) != 0 && results_received),
          "the tester's results are cleared only after a complete upload");
    check(files_in_their_directories() && fs::is_empty(dir / "tmp"),
          "no file outside its directory, no temporary file left");
    check(open_descriptors() == descriptors && !link.pc().is_open(),
          "no file descriptor left open, the port closed");

    ++totals.runs;
    totals.completed += completed;
    totals.cancelled += cancelled;
    totals.closing_lost += closing_lost;
    totals.corrupted += link.noise_counts().corrupted;
    totals.dropped += link.noise_counts().dropped;
}

INSTANTIATE_TEST_SUITE_P(Seeded, Soak, ::testing::Range(0, SOAK_RUNS));

TEST(LineNoise, ChangesAndLosesBytesAsSeeded) {
    auto carry = [](LineNoise noise, NoiseCounts& counts) {
        VirtualClock clock;
        MemoryLink link(clock);
        link.set_noise(noise);
        std::string bytes = pattern(100'000), received;
        for (size_t at = 0; at < bytes.size(); at += 1000) {
            link.pc().send(std::string_view(bytes).substr(at, 1000));
            received += link.tester().take_received();
        }
        counts = link.noise_counts();
        return std::make_pair(bytes, received);
    };
    NoiseCounts counts;
    auto [sent, changed] = carry({7, 10'000, 0}, counts);
    ASSERT_EQ(changed.size(), sent.size());
    size_t differing = 0;
    for (size_t i = 0; i < sent.size(); ++i)
        differing += sent[i] != changed[i];
    EXPECT_EQ(differing, counts.corrupted);
    EXPECT_NEAR(static_cast<double>(counts.corrupted), 1000, 200);

    auto [unused, shortened] = carry({7, 0, 10'000}, counts);
    EXPECT_EQ(shortened.size(), sent.size() - counts.dropped);
    EXPECT_NEAR(static_cast<double>(counts.dropped), 1000, 200);

    NoiseCounts again;
    EXPECT_EQ(carry({7, 10'000, 10'000}, counts).second, carry({7, 10'000, 10'000}, again).second);
    EXPECT_NE(carry({8, 10'000, 10'000}, again).second, carry({7, 10'000, 10'000}, counts).second);
}

}  // namespace
}  // namespace trelvo::e2e

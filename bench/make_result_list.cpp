// trelvo_make_result_list BYTES > FILE: a result list of at least BYTES bytes for the
// conversion benchmark. It repeats the simulated tester's three sample blocks (three phone
// types, CR LF lines), giving every block a phone of its own: a new IMEI, and a test time
// and date that go on from block to block.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "sim/sample_data.h"

namespace {

// The sample list cut before each A01 line.
std::vector<std::string> sample_blocks() {
    std::string list = trelvo::sim::sample_result_list(72);
    std::vector<std::string> blocks;
    for (size_t start = 0; start < list.size();) {
        size_t next = list.find("\nA01;", start);
        next = next == std::string::npos ? list.size() : next + 1;
        blocks.push_back(list.substr(start, next - start));
        start = next;
    }
    return blocks;
}

// Writes `text` over `block` right after the `count`-th "," or ";" behind `record` (the
// first separator is the ";" after the record id).
void put_value(std::string& block, std::string_view record, int count, const std::string& text) {
    size_t at = block.find(record);
    for (int k = 0; k < count && at != std::string::npos; ++k)
        at = block.find_first_of(";,", at + 1);
    if (at != std::string::npos) block.replace(at + 1, text.size(), text);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: trelvo_make_result_list BYTES > FILE\n");
        return 2;
    }
    const unsigned long long wanted = std::strtoull(argv[1], nullptr, 10);
    const std::vector<std::string> samples = sample_blocks();
    unsigned long long written = 0;
    char text[32];
    for (unsigned long n = 0; written < wanted; ++n) {
        std::string block = samples[n % samples.size()];
        // Same lengths as the sample's values: IMEI 15 digits, hh:mm:ss, dd.mm.yyyy.
        std::snprintf(text, sizeof text, "35%013lu", 1000003 * n % 10000000000000);
        put_value(block, "A02;", 2, text);
        unsigned long minute = n * 7;
        std::snprintf(text, sizeof text, "%02lu:%02lu:%02lu", minute / 60 % 24, minute % 60,
                      n % 60);
        put_value(block, "A01;", 1, text);
        unsigned long day = minute / (60 * 24);
        std::snprintf(text, sizeof text, "%02lu.%02lu.%04lu", day % 28 + 1, day / 28 % 12 + 1,
                      2024 + day / 336);
        put_value(block, "A01;", 2, text);
        written += std::fwrite(block.data(), 1, block.size(), stdout);
    }
    return std::fflush(stdout) == 0 ? 0 : 1;
}

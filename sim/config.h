// What the simulated tester is and how it misbehaves: the configuration of one Tester and
// the command-line options of the kv70sim program that fill it.
#pragma once

#include <bitset>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace trelvo::sim {

// Faults the tester can be told to show, one per --fault option.
enum class Fault {
    NakPacket,          // "nak-packet": NAK the second data packet three times
    NakForever,         // "nak-forever": NAK every data packet
    Can,                // "can": cancel the transfer after the first data packet
    SilentAfterPacket,  // "silent-after-packet": say nothing more after the first data packet
    CrcError,           // "crc-error": the first data packet goes out once with a bad CRC
    WrongBlock,         // "wrong-block": the first data packet goes out numbered 2
    StallInBlock,       // "stall-in-block": a 2 s pause inside the first data packet
    NoC,                // "no-c": never request a block as receiver
    IdnTimeout,         // "idn-timeout": no answer to *IDN?
    IdnUnknown,         // "idn-unknown": an identity whose model field is no known model
    NoResults,          // "no-results": no results stored
    Xoff,               // "xoff": hold the PC off with XOFF for a second during a transfer
    SizeShort,          // "size-short": announce the size without the last data packet's bytes
    SizeLong,           // "size-long": announce 128 bytes more than are sent
    NakEot,             // "nak-eot": NAK the first EOT as receiver
    EndlessDirectory,   // "endless-directory": every autotest directory page is full
};
inline constexpr size_t FAULT_COUNT = 16;

std::string_view fault_name(Fault fault);
std::optional<Fault> fault_from_name(std::string_view name);
// Every fault, in the order of the enumeration.
std::vector<Fault> all_faults();

class FaultSet {
  public:
    FaultSet() = default;
    FaultSet(std::initializer_list<Fault> faults) {
        for (Fault fault : faults)
            add(fault);
    }
    void add(Fault fault) { bits_.set(static_cast<size_t>(fault)); }
    bool has(Fault fault) const { return bits_.test(static_cast<size_t>(fault)); }
    bool empty() const { return bits_.none(); }

  private:
    std::bitset<FAULT_COUNT> bits_;
};

// One simulated tester.
struct TesterConfig {
    int model = 72;                          // 71 or 72
    std::string idn;                         // the whole identity reply; empty: from the model
    std::optional<std::string> results;      // the result list it holds; none: built-in sample
    std::optional<std::string> mobile_list;  // the mobile list it holds; none: built-in list
    std::string mobile_list_name;            // announced name; empty: the built-in one's name
    std::optional<std::vector<std::string>> autotests;  // directory names; none: built-in
    std::string store_dir;                              // where received files go; empty: kept
                                                        // in memory only
    uint32_t baud = 0;     // pace the line both ways to this rate (10 bits a byte); 0: no pacing
    bool polling = false;  // a "C" outside any transfer starts a result-list transfer
    // Milliseconds the tester parses a command line after its LF; bytes that arrive
    // meanwhile are lost. 0: parsing takes no time.
    uint32_t parse_ms = 0;
    FaultSet faults;
};

// The options of the kv70sim program.
struct ProgramOptions {
    TesterConfig tester;
    std::string link;          // --link PATH: symbolic link to the pseudo-terminal
    std::string trace;         // --trace FILE
    std::string results_file;  // --results FILE, read by load_option_files
    std::string mslist_file;   // --mslist FILE, read by load_option_files
    bool help = false;
};

struct ParsedOptions {
    ProgramOptions options;
    std::string error;  // empty when the options are fine
    bool ok() const { return error.empty(); }
};

// Parses the arguments after the program name. "--name value" and "--name=value" both work.
ParsedOptions parse_program_options(const std::vector<std::string>& args);
// Reads the files named by --results and --mslist into the tester configuration; false with
// a message naming the file when one cannot be read.
bool load_option_files(ProgramOptions& options, std::string& error);
std::string usage_text();

}  // namespace trelvo::sim

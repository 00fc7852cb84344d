#include "sim/config.h"

#include <array>
#include <fstream>
#include <iterator>
#include <sstream>

#include "sim/file_names.h"
#include "sim/sample_data.h"

namespace trelvo::sim {

namespace {

constexpr std::array<std::string_view, FAULT_COUNT> FAULT_NAMES = {
    "nak-packet",        "nak-forever",    "can",        "silent-after-packet", "crc-error",
    "wrong-block",       "stall-in-block", "no-c",       "idn-timeout",         "idn-unknown",
    "no-results",        "xoff",           "size-short", "size-long",           "nak-eot",
    "endless-directory",
};

constexpr uint32_t MAX_BAUD = 1'000'000;
constexpr uint32_t MAX_PARSE_MS = 10'000;
constexpr size_t MAX_AUTOTESTS = 255;

std::optional<uint32_t> parse_count(std::string_view text, uint32_t max) {
    if (text.empty() || text.size() > 10) return std::nullopt;
    uint64_t value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        value = value * 10 + static_cast<uint64_t>(c - '0');
    }
    if (value > max) return std::nullopt;
    return static_cast<uint32_t>(value);
}

std::vector<std::string> split_names(std::string_view list) {
    std::vector<std::string> names;
    if (list.empty()) return names;
    size_t start = 0;
    for (;;) {
        size_t comma = list.find(',', start);
        names.emplace_back(list.substr(start, comma - start));
        if (comma == std::string_view::npos) break;
        start = comma + 1;
    }
    return names;
}

bool read_whole_file(const std::string& path, std::string& contents) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    contents.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return !in.bad();
}

// Applies one option with its value; returns an error text or "".
std::string apply_option(ProgramOptions& options, std::string_view name, std::string_view value) {
    TesterConfig& tester = options.tester;
    if (name == "link") {
        options.link = value;
    } else if (name == "model") {
        if (value != "71" && value != "72") return "--model takes 71 or 72";
        tester.model = value == "71" ? 71 : 72;
    } else if (name == "idn") {
        if (value.find_first_of("\r\n") != std::string_view::npos)
            return "--idn takes a single line";
        tester.idn = value;
    } else if (name == "results") {
        options.results_file = value;
    } else if (name == "mslist") {
        options.mslist_file = value;
    } else if (name == "autotests") {
        std::vector<std::string> names = split_names(value);
        for (const std::string& entry : names) {
            if (entry.empty()) return "--autotests: empty name in \"" + std::string(value) + "\"";
            if (entry.find_first_of("\r\n\x03") != std::string::npos)
                return "--autotests: a name holds a control character";
        }
        if (names.size() > MAX_AUTOTESTS) return "--autotests: at most 255 entries";
        tester.autotests = std::move(names);
    } else if (name == "autotest-count") {
        std::optional<uint32_t> count = parse_count(value, MAX_AUTOTESTS);
        if (!count) return "--autotest-count takes a number from 0 to 255";
        tester.autotests = numbered_autotest_names(*count);
    } else if (name == "store") {
        tester.store_dir = value;
    } else if (name == "baud") {
        std::optional<uint32_t> baud = parse_count(value, MAX_BAUD);
        if (!baud || *baud == 0) return "--baud takes a rate from 1 to 1000000";
        tester.baud = *baud;
    } else if (name == "parse-ms") {
        std::optional<uint32_t> ms = parse_count(value, MAX_PARSE_MS);
        if (!ms) return "--parse-ms takes milliseconds from 0 to 10000";
        tester.parse_ms = *ms;
    } else if (name == "trace") {
        options.trace = value;
    } else if (name == "fault") {
        std::optional<Fault> fault = fault_from_name(value);
        if (!fault) return "unknown fault \"" + std::string(value) + "\"";
        tester.faults.add(*fault);
    } else {
        return "unknown option --" + std::string(name);
    }
    return {};
}

}  // namespace

std::string_view fault_name(Fault fault) {
    return FAULT_NAMES[static_cast<size_t>(fault)];
}

std::optional<Fault> fault_from_name(std::string_view name) {
    for (size_t i = 0; i < FAULT_NAMES.size(); ++i) {
        if (FAULT_NAMES[i] == name) return static_cast<Fault>(i);
    }
    return std::nullopt;
}

std::vector<Fault> all_faults() {
    std::vector<Fault> faults;
    for (size_t i = 0; i < FAULT_COUNT; ++i)
        faults.push_back(static_cast<Fault>(i));
    return faults;
}

ParsedOptions parse_program_options(const std::vector<std::string>& args) {
    ParsedOptions parsed;
    for (size_t i = 0; i < args.size(); ++i) {
        std::string_view arg = args[i];
        if (arg == "--help" || arg == "-h") {
            parsed.options.help = true;
            continue;
        }
        if (arg == "--polling") {
            parsed.options.tester.polling = true;
            continue;
        }
        if (arg.substr(0, 2) != "--" || arg.size() == 2) {
            parsed.error = "unexpected argument \"" + std::string(arg) + "\"";
            return parsed;
        }
        std::string_view name = arg.substr(2);
        std::string_view value;
        if (size_t equals = name.find('='); equals != std::string_view::npos) {
            value = name.substr(equals + 1);
            name = name.substr(0, equals);
        } else if (name == "polling" || name == "help") {
            parsed.error = "--" + std::string(name) + " takes no value";
            return parsed;
        } else if (i + 1 < args.size()) {
            value = args[++i];
        } else {
            parsed.error = "--" + std::string(name) + " needs a value";
            return parsed;
        }
        parsed.error = apply_option(parsed.options, name, value);
        if (!parsed.ok()) return parsed;
    }
    if (!parsed.options.help && parsed.options.link.empty()) parsed.error = "--link PATH is needed";
    return parsed;
}

bool load_option_files(ProgramOptions& options, std::string& error) {
    if (!options.results_file.empty()) {
        std::string contents;
        if (!read_whole_file(options.results_file, contents)) {
            error = options.results_file + ": cannot read the result list";
            return false;
        }
        options.tester.results = std::move(contents);
    }
    if (!options.mslist_file.empty()) {
        std::string contents;
        if (!read_whole_file(options.mslist_file, contents)) {
            error = options.mslist_file + ": cannot read the mobile list";
            return false;
        }
        options.tester.mobile_list = std::move(contents);
        options.tester.mobile_list_name = bare_file_name(options.mslist_file);
    }
    return true;
}

std::string usage_text() {
    std::ostringstream text;
    text << "usage: kv70sim --link PATH [options]\n"
            "Plays a KV71/KV72 tester on a pseudo-terminal; PATH becomes a link to it.\n"
            "  --model 71|72        tester model (default 72)\n"
            "  --idn TEXT           the whole reply to *IDN?\n"
            "  --results FILE       result list to send (default: built-in sample)\n"
            "  --mslist FILE        mobile list to send (default: built-in list)\n"
            "  --autotests A,B,...  autotest directory (\"\" for none)\n"
            "  --autotest-count N   a directory of N autotests \"AUTOTEST 001\" and on\n"
            "  --store DIR          store every received file in DIR\n"
            "  --baud N             pace the line to N baud both ways, 10 bits a byte\n"
            "  --polling            a C outside a transfer starts a result-list transfer\n"
            "  --parse-ms N         bytes that come within N ms after a command line are lost\n"
            "  --trace FILE         log every byte in and out with times\n"
            "  --fault NAME         repeatable; one of:";
    for (std::string_view name : FAULT_NAMES)
        text << ' ' << name;
    text << "\n";
    return text.str();
}

}  // namespace trelvo::sim

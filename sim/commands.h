// The tester's remote commands: SCPI-like lines of colon-separated keywords, each matching
// its short form (the upper-case letters of its pattern) or its long form in any case, a
// "?" for a query, a parameter after a blank, and ";" joining commands in one line.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace trelvo::sim {

enum class CommandKind {
    Identify,           // *IDN?
    ReceiveFirmware,    // SYSTem:STATe:UPLoad:UPDate
    ReceiveMobileList,  // SYSTem:STATe:UPLoad:SECTor
    ReceiveAutotest,    // SYSTem:STATe:UPLoad:AUTotest <slot>
    SendMobileList,     // SYSTem:STATe:DOWNload:SECTor
    SendResults,        // SYSTem:STATe:DOWNload:TESTresult ALL_1
    ResultStatus,       // SYSTem:DIRectory:TESTresult:STATe?
    ClearResults,       // SYSTem:CLEar:TESTresult ALL
    AutotestDirectory,  // SYSTem:DIRectory:AUTotest? <first slot>
    ClearAutotest,      // SYSTem:CLEar:AUTotest <slot>
    Local,              // SYSTem:COMMunicate:LOCal
    Unknown,
};

struct Command {
    CommandKind kind = CommandKind::Unknown;
    std::string text;     // as received, without surrounding blanks
    uint32_t number = 0;  // the slot of the commands that take one
};

// Whether `word` is the short or the long form of the keyword `pattern` ("SYSTem" takes
// "SYST" and "SYSTEM" in any case).
bool keyword_matches(std::string_view word, std::string_view pattern);

// The commands of one line (without its LF; a CR before it is already removed). Empty parts
// are skipped.
std::vector<Command> parse_command_line(std::string_view line);

}  // namespace trelvo::sim

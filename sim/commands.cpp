#include "sim/commands.h"

#include <array>
#include <cctype>

namespace trelvo::sim {

namespace {

enum class Parameter { None, Slot, All, AllOne };

struct CommandForm {
    std::string_view header;  // keyword patterns separated by ':'
    bool query;
    Parameter parameter;
    CommandKind kind;
};

constexpr std::array<CommandForm, 11> COMMANDS = {{
    {"*IDN", true, Parameter::None, CommandKind::Identify},
    {"SYSTem:STATe:UPLoad:UPDate", false, Parameter::None, CommandKind::ReceiveFirmware},
    {"SYSTem:STATe:UPLoad:SECTor", false, Parameter::None, CommandKind::ReceiveMobileList},
    {"SYSTem:STATe:UPLoad:AUTotest", false, Parameter::Slot, CommandKind::ReceiveAutotest},
    {"SYSTem:STATe:DOWNload:SECTor", false, Parameter::None, CommandKind::SendMobileList},
    {"SYSTem:STATe:DOWNload:TESTresult", false, Parameter::AllOne, CommandKind::SendResults},
    {"SYSTem:DIRectory:TESTresult:STATe", true, Parameter::None, CommandKind::ResultStatus},
    {"SYSTem:CLEar:TESTresult", false, Parameter::All, CommandKind::ClearResults},
    {"SYSTem:DIRectory:AUTotest", true, Parameter::Slot, CommandKind::AutotestDirectory},
    {"SYSTem:CLEar:AUTotest", false, Parameter::Slot, CommandKind::ClearAutotest},
    {"SYSTem:COMMunicate:LOCal", false, Parameter::None, CommandKind::Local},
}};

bool is_blank(char c) {
    return c == ' ' || c == '\t';
}

std::string_view trim(std::string_view text) {
    while (!text.empty() && is_blank(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && is_blank(text.back()))
        text.remove_suffix(1);
    return text;
}

bool equal_ignoring_case(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (std::toupper(static_cast<unsigned char>(a[i])) !=
            std::toupper(static_cast<unsigned char>(b[i])))
            return false;
    }
    return true;
}

bool header_matches(std::string_view header, std::string_view patterns) {
    if (!header.empty() && header.front() == ':') header.remove_prefix(1);
    for (;;) {
        size_t word_end = header.find(':');
        size_t pattern_end = patterns.find(':');
        if (!keyword_matches(header.substr(0, word_end), patterns.substr(0, pattern_end)))
            return false;
        if (word_end == std::string_view::npos || pattern_end == std::string_view::npos)
            return word_end == pattern_end;
        header.remove_prefix(word_end + 1);
        patterns.remove_prefix(pattern_end + 1);
    }
}

std::optional<uint32_t> parse_slot(std::string_view text) {
    if (text.empty() || text.size() > 5) return std::nullopt;
    uint32_t value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        value = value * 10 + static_cast<uint32_t>(c - '0');
    }
    return value;
}

Command classify(std::string_view text) {
    Command command;
    command.text = text;
    size_t blank = text.find_first_of(" \t");
    std::string_view header = text.substr(0, blank);
    std::string_view parameter =
        blank == std::string_view::npos ? std::string_view() : trim(text.substr(blank));
    bool query = !header.empty() && header.back() == '?';
    if (query) header.remove_suffix(1);
    for (const CommandForm& form : COMMANDS) {
        if (form.query != query || !header_matches(header, form.header)) continue;
        switch (form.parameter) {
            case Parameter::None:
                if (!parameter.empty()) return command;
                break;
            case Parameter::Slot: {
                std::optional<uint32_t> slot = parse_slot(parameter);
                if (!slot) return command;
                command.number = *slot;
                break;
            }
            case Parameter::All:
                if (!equal_ignoring_case(parameter, "ALL")) return command;
                break;
            case Parameter::AllOne:
                if (!equal_ignoring_case(parameter, "ALL_1")) return command;
                break;
        }
        command.kind = form.kind;
        return command;
    }
    return command;
}

}  // namespace

bool keyword_matches(std::string_view word, std::string_view pattern) {
    if (word.empty() || pattern.empty()) return false;
    size_t short_length = 0;
    while (short_length < pattern.size() &&
           !std::islower(static_cast<unsigned char>(pattern[short_length])))
        ++short_length;
    return equal_ignoring_case(word, pattern) ||
           equal_ignoring_case(word, pattern.substr(0, short_length));
}

std::vector<Command> parse_command_line(std::string_view line) {
    std::vector<Command> commands;
    for (;;) {
        size_t semicolon = line.find(';');
        std::string_view part = trim(line.substr(0, semicolon));
        if (!part.empty()) commands.push_back(classify(part));
        if (semicolon == std::string_view::npos) break;
        line.remove_prefix(semicolon + 1);
    }
    return commands;
}

}  // namespace trelvo::sim

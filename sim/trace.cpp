#include "sim/trace.h"

#include <cstdio>

namespace trelvo::sim {

namespace {
constexpr size_t BYTES_PER_LINE = 16;
}

std::string format_trace(TraceDirection direction, uint32_t since_start_ms,
                         std::span<const uint8_t> bytes) {
    std::string text;
    for (size_t start = 0; start < bytes.size(); start += BYTES_PER_LINE) {
        char head[32];
        std::snprintf(head, sizeof head, "%6u.%03u %-3s", since_start_ms / 1000,
                      since_start_ms % 1000, direction == TraceDirection::In ? "in" : "out");
        text += head;
        std::string printable;
        for (size_t i = 0; i < BYTES_PER_LINE; ++i) {
            if (start + i < bytes.size()) {
                uint8_t byte = bytes[start + i];
                char hex[4];
                std::snprintf(hex, sizeof hex, " %02x", byte);
                text += hex;
                printable.push_back(byte >= 0x20 && byte < 0x7F ? static_cast<char>(byte) : '.');
            } else {
                text += "   ";
            }
        }
        text += "  |" + printable + "|\n";
    }
    return text;
}

std::string traced_bytes(std::string_view trace, TraceDirection direction) {
    const std::string_view word = direction == TraceDirection::In ? "in " : "out";
    std::string bytes;
    while (!trace.empty()) {
        size_t end = trace.find('\n');
        std::string_view line = trace.substr(0, end);
        trace = end == std::string_view::npos ? std::string_view() : trace.substr(end + 1);
        // "%6u.%03u %-3s", then up to 16 " xx", then "  |text|".
        if (line.size() < 14 || line.substr(11, 3) != word) continue;
        std::string_view hex = line.substr(14, line.find("  |") - 14);
        for (size_t i = 0; i + 3 <= hex.size() && hex[i] == ' ' && hex[i + 1] != ' '; i += 3)
            bytes.push_back(
                static_cast<char>(std::stoi(std::string(hex.substr(i + 1, 2)), nullptr, 16)));
    }
    return bytes;
}

void TraceWriter::write(TraceDirection direction, uint32_t now_ms, std::span<const uint8_t> bytes) {
    out_ << format_trace(direction, now_ms - start_ms_, bytes);
    out_.flush();
}

}  // namespace trelvo::sim

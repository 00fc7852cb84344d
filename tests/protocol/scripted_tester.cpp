#include "tests/protocol/scripted_tester.h"

#include <algorithm>
#include <cstdio>

#include "base/control_bytes.h"
#include "protocol/packet.h"
#include "serial/tester_port.h"

namespace trelvo::testing {

namespace {

constexpr uint32_t POLL_MS = 5;

bool starts_with(const std::string& text, std::string_view prefix) {
    return text.compare(0, prefix.size(), prefix) == 0;
}

std::string as_text(const PacketBuffer& packet, size_t size) {
    return std::string(reinterpret_cast<const char*>(packet.data()), size);
}

}  // namespace

ScriptedTester::ScriptedTester(EngineHarness& harness) : h_(harness) {
    scheduled_ = h_.clock.schedule(h_.clock.now_ms() + POLL_MS, [this] { poll(); });
}

ScriptedTester::~ScriptedTester() {
    h_.clock.cancel(scheduled_);
}

void ScriptedTester::send(std::string bytes, uint32_t delay_ms) {
    h_.wire.feed_at(h_.clock.now_ms() + delay_ms, std::move(bytes));
}

void ScriptedTester::poll() {
    parse();
    scheduled_ = h_.clock.schedule(h_.clock.now_ms() + POLL_MS, [this] { poll(); });
}

void ScriptedTester::parse() {
    const std::vector<uint8_t>& out = h_.wire.output;
    while (parsed_ < out.size()) {
        uint8_t first = out[parsed_];
        size_t rest = out.size() - parsed_;
        Sent item{Sent::Line, {}};
        size_t length = 1;
        if (first == SOH || first == STX) {
            length = packet_size_for(first);
            if (rest < length) return;
            item.kind = Sent::Packet;
        } else if (first == EOT) {
            item.kind = Sent::Eot;
        } else if (first == ACK) {
            bool request = rest > 1 && out[parsed_ + 1] == CRC_REQUEST;
            item.kind = request ? Sent::AckRequest : Sent::Ack;
            length = request ? 2 : 1;
        } else if (first == NAK) {
            item.kind = Sent::Nak;
        } else if (first == CAN) {
            item.kind = Sent::Can;
        } else if (first == CRC_REQUEST) {
            item.kind = Sent::Request;
        } else if (first == '\n') {
            ++parsed_;
            continue;
        } else {
            auto end = std::find(out.begin() + static_cast<long>(parsed_), out.end(), '\n');
            if (end == out.end()) return;
            length = static_cast<size_t>(end - out.begin()) - parsed_ + 1;
            item.kind = Sent::Line;
        }
        item.bytes.assign(out.begin() + static_cast<long>(parsed_),
                          out.begin() + static_cast<long>(parsed_ + length));
        if (item.kind == Sent::Line) item.bytes.pop_back();
        parsed_ += length;
        sent.push_back(item);
        handle(item);
        if (on_sent) on_sent(item);
    }
}

void ScriptedTester::handle(const Sent& item) {
    switch (item.kind) {
        case Sent::Line:
            handle_line(item.bytes);
            break;
        case Sent::Packet:
            handle_packet(item);
            break;
        case Sent::Eot:
            end_seen_ = true;
            if (eot_answers.empty()) {
                send(
                    "\x06"
                    "C");
            } else {
                send(eot_answers.front());
                eot_answers.pop_front();
            }
            break;
        case Sent::Request:
        case Sent::Ack:
        case Sent::AckRequest:
        case Sent::Nak:
            next_turn();
            break;
        case Sent::Can:
            break;
    }
}

void ScriptedTester::handle_line(const std::string& line) {
    unsigned number = 0;
    if (line == "*IDN?") {
        if (identity) send(*identity);
    } else if (line == "SYSTem:DIRectory:TESTresult:STATe?") {
        if (result_status) send(*result_status);
    } else if (std::sscanf(line.c_str(), "SYSTem:DIRectory:AUTotest? %u", &number) == 1) {
        if (directory_page) {
            send(directory_page(number));
            return;
        }
        std::string reply;
        for (unsigned slot = number; slot < number + 10 && slot <= autotests.size(); ++slot) {
            reply += std::to_string(slot) + ",1,2007-03-01,12:00," + autotests[slot - 1] + "\n";
        }
        send(reply + "\x03\n");
    } else if (std::sscanf(line.c_str(), "SYSTem:CLEar:AUTotest %u;*idn?", &number) == 1) {
        if (number >= 1 && number <= autotests.size())
            autotests.erase(autotests.begin() + number - 1);
        if (identity) send(*identity);
    } else if (starts_with(line, "SYSTem:STATe:UPLoad:")) {
        // A new transfer into the tester begins.
        file_info_seen_ = end_seen_ = false;
        packets.clear();
        stored.clear();
        if (request_on_mode_command) send("C");
    }
}

void ScriptedTester::handle_packet(const Sent& packet) {
    if (packet.block() == 0 && !file_info_seen_) {
        file_info_seen_ = true;
        packets.push_back(packet);
        std::string data = packet.data();
        announced_name = data.c_str();
        announced_size = 0;
        for (size_t i = announced_name.size() + 1;
             i < data.size() && data[i] >= '0' && data[i] <= '9'; ++i) {
            announced_size = announced_size * 10 + static_cast<uint32_t>(data[i] - '0');
        }
        send(file_info_answer);
        return;
    }
    if (packet.block() == 0 && end_seen_) {
        packets.push_back(packet);
        send(closing_answer);
        return;
    }
    packets.push_back(packet);
    std::string answer = "\x06";
    if (!packet_answers.empty()) {
        answer = packet_answers.front();
        packet_answers.pop_front();
    }
    if (answer == "\x06") {
        std::string data = packet.data();
        size_t room = announced_size > stored.size() ? announced_size - stored.size() : 0;
        stored += data.substr(0, std::min(room, data.size()));
    }
    send(answer);
}

void ScriptedTester::next_turn() {
    if (turns.empty()) return;
    std::string bytes = turns.front();
    turns.pop_front();
    if (!bytes.empty()) send(bytes);
}

std::vector<std::string> ScriptedTester::answers() const {
    std::vector<std::string> result;
    for (const Sent& item : sent) {
        switch (item.kind) {
            case Sent::Request:
                result.push_back("C");
                break;
            case Sent::Ack:
                result.push_back("ACK");
                break;
            case Sent::AckRequest:
                result.push_back("ACK C");
                break;
            case Sent::Nak:
                result.push_back("NAK");
                break;
            case Sent::Can:
                result.push_back("CAN");
                break;
            default:
                break;
        }
    }
    return result;
}

std::vector<std::string> ScriptedTester::lines() const {
    std::vector<std::string> result;
    for (const Sent& item : sent) {
        if (item.kind == Sent::Line) result.push_back(item.bytes);
    }
    return result;
}

std::string file_info_packet(const std::string& name, const std::string& size_field) {
    std::string data = name;
    data.push_back('\0');
    data += size_field;
    data.resize(SHORT_DATA_SIZE, '\0');
    PacketBuffer packet;
    size_t size =
        build_packet(packet, SOH, 0,
                     std::span(reinterpret_cast<const uint8_t*>(data.data()), data.size()), 0x00);
    return as_text(packet, size);
}

std::string data_packet(uint32_t number, const std::string& data) {
    PacketBuffer packet;
    size_t size = build_packet(
        packet, SOH, number, std::span(reinterpret_cast<const uint8_t*>(data.data()), data.size()));
    return as_text(packet, size);
}

std::string long_data_packet(uint32_t number, const std::string& data) {
    PacketBuffer packet;
    size_t size = build_packet(
        packet, STX, number, std::span(reinterpret_cast<const uint8_t*>(data.data()), data.size()));
    return as_text(packet, size);
}

std::string closing_packet() {
    PacketBuffer packet;
    return as_text(packet, build_closing_block(packet));
}

}  // namespace trelvo::testing

// A tester on the scripted line, for the protocol tests: it reads back what the PC sends
// (command lines, packets, control bytes), answers the commands and plays either side of
// the block transfer. Answers go out a few milliseconds after the PC's bytes, well inside
// the engine's 50 ms tick.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "tests/support/engine_harness.h"

namespace trelvo::testing {

// One thing the PC sent.
struct Sent {
    enum Kind { Line, Packet, Eot, Ack, AckRequest, Nak, Can, Request };
    Kind kind;
    std::string bytes;  // the line without its LF, or the whole packet

    uint8_t block() const { return static_cast<uint8_t>(bytes[1]); }
    std::string data() const { return bytes.substr(3, bytes.size() - 5); }
};

class ScriptedTester {
  public:
    explicit ScriptedTester(EngineHarness& harness);
    ~ScriptedTester();
    ScriptedTester(const ScriptedTester&) = delete;
    ScriptedTester& operator=(const ScriptedTester&) = delete;

    // Feeds `bytes` to the PC `delay_ms` from now.
    void send(std::string bytes, uint32_t delay_ms = 1);

    // --- Commands ---
    // The answer to "*IDN?" (and to the query joined to the autotest delete); nothing:
    // the tester stays silent.
    std::optional<std::string> identity = std::string("Norvane KV70,72 V3.10,SN 4711\n");
    // The answer to the result status query.
    std::optional<std::string> result_status = std::string("3,2048\n");
    // The autotest directory, slot n at position n - 1; pages of ten are served.
    std::vector<std::string> autotests;
    // When set, the whole answer to the directory query for the page from `first` on.
    std::function<std::string(unsigned first)> directory_page;

    // --- Tester receives (PC sends) ---
    // Answers to successive data packets, repeats included; ACK once they have run out.
    std::deque<std::string> packet_answers;
    // Answers to successive EOTs; ACK and "C" once they have run out.
    std::deque<std::string> eot_answers;
    // Answer to the file information block and to the closing block.
    std::string file_info_answer =
        "\x06"
        "C";
    std::string closing_answer = "\x06";
    // Sends "C" when a download mode command arrives.
    bool request_on_mode_command = true;
    // What arrived: the file information block, the data packets as sent, and the file as
    // the tester stores it (data of the acknowledged packets, cut at the announced size).
    std::vector<Sent> packets;
    std::string stored;
    std::string announced_name;
    uint32_t announced_size = 0;

    // --- Tester sends (PC receives) ---
    // What the tester sends in turn, one entry per answer of the PC ("C", ACK, ACK C,
    // NAK); an empty entry lets a turn pass in silence.
    std::deque<std::string> turns;

    // Everything the PC sent, in order.
    std::vector<Sent> sent;
    // Only the answers the PC gave in a receive (C, ACK, ACK C, NAK, CAN), as text.
    std::vector<std::string> answers() const;
    // The command lines the PC sent.
    std::vector<std::string> lines() const;

    // Called for everything the PC sends, after the built-in handling.
    std::function<void(const Sent&)> on_sent;

  private:
    void poll();
    void parse();
    void handle(const Sent& item);
    void handle_line(const std::string& line);
    void handle_packet(const Sent& packet);
    void next_turn();

    EngineHarness& h_;
    size_t parsed_ = 0;
    int scheduled_ = 0;
    bool file_info_seen_ = false;
    bool end_seen_ = false;
};

// The packets a sending tester puts on the line.
std::string file_info_packet(const std::string& name, const std::string& size_field);
std::string data_packet(uint32_t number, const std::string& data);
std::string long_data_packet(uint32_t number, const std::string& data);
std::string closing_packet();

}  // namespace trelvo::testing

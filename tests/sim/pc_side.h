// A small hand-written PC for the simulator tests: sends commands, reads replies and runs
// the block transfer in both directions, on any device and clock (the virtual clock over a
// memory line, or real time over a pseudo-terminal). It follows the PC's rules closely
// enough to drive the tester and records everything it saw.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "base/platform.h"
#include "base/serial_device.h"
#include "protocol/packet.h"

namespace trelvo::sim::testing {

inline constexpr uint32_t ANSWER_TIMEOUT_MS = 5000;

// A block as the PC reads it: a whole packet, EOT, CAN, or nothing in time.
struct Block {
    enum Kind { Packet, Eot, Can, Timeout } kind = Timeout;
    std::vector<uint8_t> bytes;  // the packet from its header on
    uint32_t start_ms = 0;       // when its first byte came
    uint32_t end_ms = 0;         // when its last byte came
};

struct Reception {
    bool completed = false;
    std::string failure;
    FileInfo info;
    std::string data;            // the file, cut to the announced size
    std::vector<Block> packets;  // every packet read, in order, damaged ones included
    int naks_sent = 0;
    int crc_errors = 0;
    int timeouts = 0;
    int eots = 0;
    bool cancelled = false;      // the tester sent CAN
    std::vector<uint8_t> stray;  // bytes outside packets
};

struct Delivery {
    bool completed = false;
    std::string failure;
    std::vector<uint8_t> answers;        // every byte the tester sent, in order
    std::vector<uint32_t> answer_times;  // when each came
    int packets_sent = 0;                // data packets, repeats included
    int naks = 0;
    bool cancelled = false;
};

// What the test PC does wrong on purpose with one data packet.
struct Tamper {
    uint32_t packet = 0;      // data packet number to tamper with, 0: none
    bool bad_crc = false;     // its first transmission has a wrong CRC
    int renumber = -1;        // its first transmission carries this number
    bool send_twice = false;  // it is sent again after its ACK
};

class PcSide {
  public:
    PcSide(SerialDevice& device, TickCounter& clock) : device_(device), clock_(clock) {}

    void send(std::string_view text);
    void send_bytes(std::span<const uint8_t> bytes);
    void send_byte(uint8_t byte) { send_bytes(std::span<const uint8_t>(&byte, 1)); }

    std::optional<uint8_t> read_byte(uint32_t timeout_ms);
    // One line without its LF and a CR before it; nothing when no whole line came in time.
    std::optional<std::string> read_line(uint32_t timeout_ms = 2000);
    // Lines up to a line beginning with ETX (not included); nothing without that line.
    std::optional<std::vector<std::string>> read_directory(uint32_t timeout_ms = 2000);
    // Everything that arrives within `ms`.
    std::string read_for(uint32_t ms);
    // A packet (1 s limit between its bytes), EOT or CAN; other bytes go to `stray`.
    Block read_block(uint32_t timeout_ms, std::vector<uint8_t>* stray = nullptr);

    // Receives one file the way the PC does: C, information block answered ACK C, data
    // packets ACK (NAK when damaged, NAK or C after 5 s of silence), EOT answered ACK C,
    // closing block ACK. A wrong block number is answered with eight CAN bytes.
    Reception receive_file(bool send_first_request = true, int silence_limit = 3);

    // Sends one file the way the PC does: waits for C, information block, C, data packets
    // (each sent again on NAK, at most ten times), EOT, C, closing block. `tamper` spoils
    // one data packet.
    Delivery send_file(const std::string& name, std::string_view data, Tamper tamper = {},
                       uint32_t answer_timeout_ms = ANSWER_TIMEOUT_MS);

  private:
    std::optional<uint8_t> next_answer(Delivery& delivery, uint32_t timeout_ms);
    bool await_request(Delivery& delivery, uint32_t timeout_ms);

    SerialDevice& device_;
    TickCounter& clock_;
};

// The model code as the PC computes it from an identity reply: the first two characters of
// the second comma-separated field, as digits; nothing when the reply has no second comma.
std::optional<int> model_code(std::string_view identity);

}  // namespace trelvo::sim::testing

#include "tests/sim/pc_side.h"

#include <algorithm>

namespace trelvo::sim::testing {

namespace {
constexpr uint32_t PACKET_PAUSE_MS = 1000;
constexpr int RETRY_LIMIT = 10;
}  // namespace

void PcSide::send(std::string_view text) {
    send_bytes(
        std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(text.data()), text.size()));
}

void PcSide::send_bytes(std::span<const uint8_t> bytes) {
    size_t sent = 0;
    while (sent < bytes.size()) {
        long n = device_.write(bytes.data() + sent, bytes.size() - sent);
        if (n < 0) return;
        sent += static_cast<size_t>(n);
        if (sent < bytes.size()) device_.wait_writable(100);
    }
}

std::optional<uint8_t> PcSide::read_byte(uint32_t timeout_ms) {
    uint32_t start = clock_.now_ms();
    for (;;) {
        uint8_t byte = 0;
        if (device_.read(&byte, 1) == 1) return byte;
        uint32_t elapsed = clock_.now_ms() - start;
        if (elapsed >= timeout_ms) return std::nullopt;
        device_.wait_readable(timeout_ms - elapsed);
    }
}

std::optional<std::string> PcSide::read_line(uint32_t timeout_ms) {
    uint32_t start = clock_.now_ms();
    std::string line;
    for (;;) {
        uint32_t elapsed = clock_.now_ms() - start;
        if (elapsed >= timeout_ms) return std::nullopt;
        std::optional<uint8_t> byte = read_byte(timeout_ms - elapsed);
        if (!byte) return std::nullopt;
        if (*byte == '\n') {
            if (!line.empty() && line.back() == '\r') line.pop_back();
            return line;
        }
        line.push_back(static_cast<char>(*byte));
    }
}

std::optional<std::vector<std::string>> PcSide::read_directory(uint32_t timeout_ms) {
    std::vector<std::string> lines;
    for (;;) {
        std::optional<std::string> line = read_line(timeout_ms);
        if (!line) return std::nullopt;
        if (!line->empty() && static_cast<uint8_t>((*line)[0]) == ETX) return lines;
        lines.push_back(*line);
    }
}

std::string PcSide::read_for(uint32_t ms) {
    std::string bytes;
    uint32_t start = clock_.now_ms();
    for (;;) {
        uint32_t elapsed = clock_.now_ms() - start;
        if (elapsed >= ms) return bytes;
        std::optional<uint8_t> byte = read_byte(ms - elapsed);
        if (byte) bytes.push_back(static_cast<char>(*byte));
    }
}

Block PcSide::read_block(uint32_t timeout_ms, std::vector<uint8_t>* stray) {
    Block block;
    uint32_t start = clock_.now_ms();
    for (;;) {
        uint32_t elapsed = clock_.now_ms() - start;
        if (elapsed >= timeout_ms) return block;
        std::optional<uint8_t> byte = read_byte(timeout_ms - elapsed);
        if (!byte) return block;
        block.start_ms = clock_.now_ms();
        if (*byte == EOT || *byte == CAN) {
            block.kind = *byte == EOT ? Block::Eot : Block::Can;
            block.end_ms = block.start_ms;
            return block;
        }
        size_t size = packet_size_for(*byte);
        if (size == 0) {
            if (stray) stray->push_back(*byte);
            continue;
        }
        block.bytes.push_back(*byte);
        while (block.bytes.size() < size) {
            std::optional<uint8_t> next = read_byte(PACKET_PAUSE_MS);
            if (!next) {
                block.kind = Block::Timeout;  // stalled inside the packet
                return block;
            }
            block.bytes.push_back(*next);
        }
        block.kind = Block::Packet;
        block.end_ms = clock_.now_ms();
        return block;
    }
}

Reception PcSide::receive_file(bool send_first_request, int silence_limit) {
    Reception reception;
    uint32_t expected = 0;
    bool eot = false;
    uint32_t remaining = 0;
    int silences = 0;
    if (send_first_request) send_byte(CRC_REQUEST);
    for (;;) {
        Block block = read_block(ANSWER_TIMEOUT_MS, &reception.stray);
        switch (block.kind) {
            case Block::Timeout:
                ++reception.timeouts;
                if (block.bytes.empty() && ++silences > silence_limit) {
                    reception.failure = "silence";
                    return reception;
                }
                if (expected == 0) {
                    send_byte(CRC_REQUEST);
                } else {
                    ++reception.naks_sent;
                    send_byte(NAK);
                }
                continue;
            case Block::Can:
                reception.cancelled = true;
                reception.failure = "cancelled by the tester";
                return reception;
            case Block::Eot:
                ++reception.eots;
                eot = true;
                send_bytes(std::vector<uint8_t>{ACK, CRC_REQUEST});
                continue;
            case Block::Packet:
                break;
        }
        silences = 0;
        reception.packets.push_back(block);
        const std::vector<uint8_t>& packet = block.bytes;
        if (!packet_crc_ok(packet)) {
            ++reception.crc_errors;
            ++reception.naks_sent;
            send_byte(NAK);
            continue;
        }
        uint8_t number = packet[1];
        if (expected == 0 && number == 0) {
            reception.info = parse_file_info_block(packet);
            remaining = reception.info.size;
            expected = 1;
            send_bytes(std::vector<uint8_t>{ACK, CRC_REQUEST});
        } else if (eot && number == 0) {
            send_byte(ACK);
            reception.completed = true;
            return reception;
        } else if (!eot && expected != 0 && number == (expected & 0xFF)) {
            size_t take = std::min<size_t>(data_size_for(packet[0]), remaining);
            reception.data.append(packet.begin() + 3, packet.begin() + 3 + static_cast<long>(take));
            remaining -= static_cast<uint32_t>(take);
            ++expected;
            send_byte(ACK);
        } else {
            std::vector<uint8_t> cancel(CANCEL_SEQUENCE_LENGTH, CAN);
            send_bytes(cancel);
            reception.failure = "out of sync";
            return reception;
        }
    }
}

std::optional<uint8_t> PcSide::next_answer(Delivery& delivery, uint32_t timeout_ms) {
    std::optional<uint8_t> byte = read_byte(timeout_ms);
    if (byte) {
        delivery.answers.push_back(*byte);
        delivery.answer_times.push_back(clock_.now_ms());
    }
    return byte;
}

bool PcSide::await_request(Delivery& delivery, uint32_t timeout_ms) {
    uint32_t start = clock_.now_ms();
    for (;;) {
        uint32_t elapsed = clock_.now_ms() - start;
        if (elapsed >= timeout_ms) return false;
        std::optional<uint8_t> byte = next_answer(delivery, timeout_ms - elapsed);
        if (byte && *byte == CRC_REQUEST) return true;
    }
}

Delivery PcSide::send_file(const std::string& name, std::string_view data, Tamper tamper,
                           uint32_t answer_timeout_ms) {
    Delivery delivery;
    PacketBuffer packet{};
    auto fail = [&delivery](std::string why) {
        delivery.failure = std::move(why);
        return delivery;
    };
    // Sends `size` bytes of `packet` until ACK; false when the transfer ended.
    auto exchange = [&](size_t size, bool is_data, uint32_t number) {
        int repeats = 0;
        bool first = true;
        for (;;) {
            PacketBuffer wire = packet;
            if (first && is_data && number == tamper.packet) {
                if (tamper.bad_crc) wire[size - 1] ^= 0xFF;
                if (tamper.renumber >= 0) {
                    wire[1] = static_cast<uint8_t>(tamper.renumber);
                    wire[2] = static_cast<uint8_t>(255 - wire[1]);
                }
            }
            first = false;
            send_bytes(std::span<const uint8_t>(wire.data(), size));
            if (is_data) ++delivery.packets_sent;
            for (;;) {
                std::optional<uint8_t> answer = next_answer(delivery, answer_timeout_ms);
                if (!answer) {
                    delivery.failure = "no answer";
                    return false;
                }
                if (*answer == ACK) return true;
                if (*answer == CAN) {
                    delivery.cancelled = true;
                    delivery.failure = "cancelled by the tester";
                    return false;
                }
                if (*answer == NAK) {
                    ++delivery.naks;
                    if (++repeats > RETRY_LIMIT) {
                        delivery.failure = "too many NAKs";
                        return false;
                    }
                    break;  // send it again
                }
                // Anything else is ignored; the next byte is awaited.
            }
        }
    };

    if (!await_request(delivery, answer_timeout_ms)) return fail("no request");
    size_t size = build_file_info_block(packet, name, static_cast<uint32_t>(data.size()));
    if (!exchange(size, false, 0)) return delivery;
    if (!await_request(delivery, answer_timeout_ms)) return fail("no request for data");
    uint32_t number = 1;
    for (size_t offset = 0; offset < data.size(); ++number) {
        size_t remaining = data.size() - offset;
        uint8_t header = remaining >= LONG_DATA_SIZE ? STX : SOH;
        size_t take = std::min(remaining, data_size_for(header));
        size = build_packet(
            packet, header, number,
            std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(data.data()) + offset, take));
        if (!exchange(size, true, number)) return delivery;
        if (tamper.send_twice && number == tamper.packet) {
            tamper.packet = 0;
            if (!exchange(size, true, number)) return delivery;
        }
        offset += take;
    }
    packet[0] = EOT;
    if (!exchange(1, false, 0)) return delivery;
    if (!await_request(delivery, answer_timeout_ms)) return fail("no request for closing");
    size = build_closing_block(packet);
    if (!exchange(size, false, 0)) return delivery;
    delivery.completed = true;
    return delivery;
}

std::optional<int> model_code(std::string_view identity) {
    size_t first = identity.find(',');
    if (first == std::string_view::npos) return std::nullopt;
    size_t second = identity.find(',', first + 1);
    if (second == std::string_view::npos || second - first < 3) return std::nullopt;
    return 10 * (identity[first + 1] - '0') + (identity[first + 2] - '0');
}

}  // namespace trelvo::sim::testing

#include "protocol/block_receive.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <initializer_list>
#include <limits>
#include <vector>

#include "base/control_bytes.h"
#include "base/error_table.h"
#include "engine/engine.h"
#include "protocol/packet.h"
#include "protocol/tester_commands.h"
#include "settings/safe_files.h"

namespace trelvo {
namespace {

constexpr std::string_view NOT_IN_DIRECTORY =
    "Invalid pathname or file is write Protected\n\nFile is stored in the program directory.\n";
constexpr std::string_view NOT_CREATED = "Invalid filename or file is write protected\n";
constexpr std::string_view NAME_RESERVED =
    "The received file's name is reserved for the program's own files\n";
constexpr std::string_view WRITE_FAILED = "Write error - disk full or file too large.\n";

// Answers the tester and waits for its next block; the step runs again after the wait.
StepResult answer(Engine& engine, std::initializer_list<uint8_t> bytes) {
    PacketBuffer& packet = engine.protocol.packet;
    std::copy(bytes.begin(), bytes.end(), packet.begin());
    engine.step_index -= 1;
    engine.wait_timeout = RECEIVE_TIMEOUT_S;
    return engine.port().write_block(packet.data(), bytes.size(), SR_WAIT_BLOCK);
}

// Creates the file the file information block names, in the receiving directory or, when
// that fails, in the current directory. False when the run has to end.
bool open_received_file(Engine& engine, TransferRecord& record, std::span<const uint8_t> data) {
    size_t name_end = std::find(data.begin(), data.end(), 0) - data.begin();
    record.file_name = bare_received_name(data.first(name_end));
    // A name of the program's own files (settings, run log, the batch script) must not
    // replace them: the file is stored under a substitute name.
    bool substituted = false;
    std::string wanted = record.file_name;
    record.file_name = unreserved_name(engine.state, record.directory, wanted, substituted);
    if (substituted) {
        report_error_with_reason(engine.state, engine.window, ERR_NAME_RESERVED, NAME_RESERVED,
                                 wanted + " is stored as " + record.file_name, MessageIcon::Error);
    }
    std::FILE* file = create_received_file(record.directory + record.file_name);
    if (file == nullptr) {
        report_error(engine.state, engine.window, ERR_RECEIVE_BARE, NOT_IN_DIRECTORY,
                     MessageIcon::Error);
        file = create_received_file(record.file_name);
        if (file == nullptr) {
            report_error(engine.state, engine.window, ERR_RECEIVE_FILE, NOT_CREATED,
                         MessageIcon::Error);
            engine.run_state = RS_CANCEL;
            return false;
        }
        // This run's later steps, and later runs, use the current directory.
        receive_directory_setting(engine).clear();
        record.directory.clear();
    }
    record.file = file;
    return true;
}

// Writes `bytes` to the received file. A failed write ends the run: the file would
// otherwise be reported complete with data missing.
bool write_received(Engine& engine, TransferRecord& record, std::span<const uint8_t> bytes) {
    if (bytes.empty()) return true;
    errno = 0;
    size_t written = std::fwrite(bytes.data(), 1, bytes.size(), record.file);
    bool flushed = written == bytes.size() && std::fflush(record.file) == 0;
    engine.protocol.received.stored += written;
    if (flushed) return true;
    int error = errno;
    std::string path = record.directory + record.file_name;
    std::string reason = error != 0 ? file_reason(error, path)
                                    : path + ": the file took fewer bytes than it was given";
    report_error_with_reason(engine.state, engine.window, ERR_WRITE_FAILED, WRITE_FAILED, reason,
                             MessageIcon::Error);
    record.receive_open = false;  // the message above already names the file
    engine.run_state = RS_CANCEL;
    return false;
}

// Stores the data of one packet. Up to the announced size only what fits is written; the
// rest of the packet that reaches past it is held back as its fill. A packet that lies
// wholly beyond the size shows the size was short: from then on every byte is kept, the
// held-back ones first. Without an announced size every byte is kept.
bool store_data(Engine& engine, TransferRecord& record, std::span<const uint8_t> data) {
    ReceivedData& received = engine.protocol.received;
    if (received.announced && !received.beyond_size) {
        uint64_t size = *received.announced;
        if (received.stored < size) {
            size_t fits =
                static_cast<size_t>(std::min<uint64_t>(data.size(), size - received.stored));
            received.held_back.assign(data.begin() + static_cast<ptrdiff_t>(fits), data.end());
            return write_received(engine, record, data.first(fits));
        }
        received.beyond_size = true;
        std::vector<uint8_t> held = std::move(received.held_back);
        received.held_back.clear();
        if (!write_received(engine, record, held)) return false;
    }
    return write_received(engine, record, data);
}

// The closing block has come: the transfer is complete only with exactly the announced
// bytes stored. Otherwise the run ends with everything received kept, and the tester's
// list is never cleared after it.
void check_received_size(Engine& engine, TransferRecord& record) {
    ReceivedData& received = engine.protocol.received;
    if (!received.announced) return;  // nothing to check against; the list is not cleared
    received.complete = !received.beyond_size && received.stored == *received.announced;
    if (received.complete) return;
    char counts[96];
    std::snprintf(counts, sizeof counts, ": %llu bytes announced, %llu received and kept",
                  static_cast<unsigned long long>(*received.announced),
                  static_cast<unsigned long long>(received.stored));
    report_error_with_reason(engine.state, engine.window, ERR_TRANSFER_INCOMPLETE,
                             "Transfer incomplete\n", record.directory + record.file_name + counts,
                             MessageIcon::Error);
    engine.run_state = RS_ABORTED;
}

StepResult receive_packet(Engine& engine, TransferRecord& record) {
    TesterPort& port = engine.port();
    ProtocolState& protocol = engine.protocol;
    size_t data_size = data_size_for(port.reply[0]);
    engine.window.set_progress_step(data_size == LONG_DATA_SIZE ? 8 : 1);
    std::span<const uint8_t> packet(port.reply.data(), data_size + PACKET_OVERHEAD);
    if (!packet_crc_ok(packet)) {
        engine.show_status("CRC Error", 2);
        return answer(engine, {NAK});
    }

    uint8_t block = packet[1];
    bool number_ok = packet[2] == static_cast<uint8_t>(255 - block);
    uint8_t expected = static_cast<uint8_t>(record.packet_number);
    uint8_t previous = static_cast<uint8_t>(record.packet_number - 1);

    // Block 0 ends the transfer only once the sender has ended its data with EOT: before
    // that it is a data packet (after 255, 511, ... packets) or a repeated file
    // information block.
    if (block == 0 && protocol.end_of_transmission && record.packet_number > 0) {
        engine.packet_text = "Close connection";
        record.receive_open = false;
        check_received_size(engine, record);
        protocol.packet[0] = ACK;
        return port.write_block(protocol.packet.data(), 1, SR_NEXT);
    }
    if (number_ok && block == expected) {
        std::span<const uint8_t> data = packet.subspan(3, data_size);
        bool file_info = record.packet_number == 0;
        if (file_info) {
            FileInfo info = parse_file_info_block(packet);
            ReceivedData& received = protocol.received;
            received = ReceivedData{};
            if (info.size_given) received.announced = info.size;
            if (!open_received_file(engine, record, data)) return SR_NEXT;
            record.receive_open = true;
            engine.show_file_line("Receiving", record.file_name);
            uint64_t units = info.size / SHORT_DATA_SIZE + (info.size % SHORT_DATA_SIZE != 0);
            engine.window.set_progress_range(
                0, static_cast<int>(std::min<uint64_t>(units, std::numeric_limits<int>::max())));
        } else {
            engine.window.progress_step_it();
            engine.packet_text = packet_text_for(record.packet_number);
            if (!store_data(engine, record, data)) return SR_NEXT;
        }
        ++record.packet_number;
        protocol.end_of_transmission = false;
        return file_info ? answer(engine, {ACK, CRC_REQUEST}) : answer(engine, {ACK});
    }
    // The packet just accepted, again: the tester missed our answer. It gets the same
    // answer and is not stored twice.
    if (number_ok && record.packet_number > 0 && block == previous) {
        return record.packet_number == 1 ? answer(engine, {ACK, CRC_REQUEST})
                                         : answer(engine, {ACK});
    }
    engine.run_state = RS_SYNC_LOST;
    return SR_NEXT;
}

}  // namespace

std::string bare_received_name(std::span<const uint8_t> sent_name) {
    auto separator = std::find_if(sent_name.rbegin(), sent_name.rend(),
                                  [](uint8_t c) { return c == '/' || c == '\\'; });
    std::string name(separator.base(), sent_name.end());
    for (char& c : name) {
        unsigned char byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7F) c = '_';
    }
    if (name.size() > MAX_TRANSFER_NAME) name.resize(MAX_TRANSFER_NAME);
    if (name.empty() || name == "." || name == "..") name = FALLBACK_RECEIVED_NAME;
    return name;
}

std::FILE* create_received_file(const std::string& path) {
    return create_output_file(path);
}

StepResult step_start_receive(Engine& engine, TransferRecord& record) {
    engine.port().set_output_flow_control(false);
    record.packet_number = 0;
    engine.protocol.end_of_transmission = false;
    engine.protocol.received = ReceivedData{};
    engine.wait_timeout = RECEIVE_TIMEOUT_S;
    engine.protocol.packet[0] = CRC_REQUEST;
    return engine.port().write_block(engine.protocol.packet.data(), 1, SR_WAIT_BLOCK);
}

StepResult step_receive_block(Engine& engine, TransferRecord& record) {
    switch (engine.port().reply[0]) {
        case EOT:
            engine.protocol.end_of_transmission = true;
            return answer(engine, {ACK, CRC_REQUEST});
        case CAN:
            engine.run_state = RS_ABORTED;
            return SR_NEXT;
        case TIMEOUT_MARKER:
            if ((engine.state.options & OPT_POLLING) == 0) engine.show_status("Timeout", 2);
            // Until the file information block has come, ask again for the transfer.
            return answer(engine, {record.packet_number == 0 ? CRC_REQUEST : NAK});
        case SOH:
        case STX:
            return receive_packet(engine, record);
        default:
            // read_block hands on nothing else; wait for the next block.
            engine.step_index -= 1;
            engine.wait_timeout = RECEIVE_TIMEOUT_S;
            return SR_WAIT_BLOCK;
    }
}

}  // namespace trelvo

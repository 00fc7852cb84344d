#include "protocol/block_send.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <string>

#include "base/control_bytes.h"
#include "base/error_table.h"
#include "engine/engine.h"
#include "protocol/packet.h"
#include "protocol/tester_commands.h"

namespace trelvo {
namespace {

// How long the information block waits after the receiver's request.
constexpr uint32_t RECEIVER_SETTLE_MS = 50;

StepResult send_packet_buffer(Engine& engine, size_t size, StepResult next) {
    return engine.port().write_block(engine.protocol.packet.data(), size, next);
}

StepResult send_byte(Engine& engine, uint8_t byte, StepResult next) {
    engine.protocol.packet[0] = byte;
    return send_packet_buffer(engine, 1, next);
}

// The file is not what it was when it was chosen: it shrank, grew, or a read failed.
// Sending fill bytes for what is missing, or only the announced part of a longer file,
// would pass a damaged file off as complete (and a short one's remaining count would never
// reach 0): the transfer is broken off instead, with the cause.
StepResult give_up_changed_file(Engine& engine, TransferRecord& record, bool read_failed) {
    std::string name = record.file_name.empty() ? std::string("The file") : record.file_name;
    if (read_failed) {
        report_error_with_reason(engine.state, engine.window, ERR_OPEN_FILE,
                                 "Cannot read the file to send\n",
                                 name + ": " + std::strerror(errno), MessageIcon::Error);
    } else {
        report_error_with_reason(
            engine.state, engine.window, ERR_FILE_CHANGED, "The file changed while it was sent\n",
            name + ": its size is no longer the size announced to the tester", MessageIcon::Error);
    }
    engine.run_state = RS_CANCEL;
    return SR_NEXT;
}

}  // namespace

StepResult step_wait_receiver(Engine& engine, TransferRecord&) {
    engine.port().expected_byte = CRC_REQUEST;
    return SR_WAIT_MATCH;
}

StepResult step_send_file_info(Engine& engine, TransferRecord& record) {
    record.retry_count = 0;
    // A receiver may clear its input right after asking for the transfer (lrzsz's rb
    // does): the information block waits a moment rather than arrive into the purge.
    engine.port().hold_output(RECEIVER_SETTLE_MS);
    size_t size = build_file_info_block(engine.protocol.packet, record.file_name, record.file_size,
                                        record.file_time);
    engine.wait_timeout = FILE_INFO_TIMEOUT_S;
    return send_packet_buffer(engine, size, SR_WAIT_BYTE);
}

StepResult step_check_ack(Engine& engine, TransferRecord& record) {
    switch (engine.port().reply[0]) {
        case ACK:
            return SR_NEXT;
        case CAN:
            engine.run_state = RS_ABORTED;
            return SR_NEXT;
        default:
            if (record.retry_count >= MAX_RETRIES) {
                engine.run_state = RS_ABORTED;
                return SR_NEXT;
            }
            // The tester missed or refused what we sent: EOT again, in all three places,
            // within the wait timeout of the send being checked.
            ++record.retry_count;
            engine.step_index -= 1;
            return send_byte(engine, EOT, SR_WAIT_BYTE);
    }
}

StepResult step_send_packet(Engine& engine, TransferRecord& record) {
    record.retry_count = 0;
    bool long_packet = record.file_size >= LONG_DATA_SIZE;
    uint8_t header = long_packet ? STX : SOH;
    size_t data_size = long_packet ? LONG_DATA_SIZE : SHORT_DATA_SIZE;
    engine.window.set_progress_step(long_packet ? 8 : 1);

    // Never more than the recorded size: a file that grew since it was chosen is sent as
    // announced in the file information block.
    std::array<uint8_t, LONG_DATA_SIZE> data;
    size_t wanted = std::min<size_t>(data_size, record.file_size);
    size_t got = record.file != nullptr ? std::fread(data.data(), 1, wanted, record.file) : 0;
    if (got < wanted) {
        return give_up_changed_file(engine, record,
                                    record.file != nullptr && std::ferror(record.file) != 0);
    }
    record.file_size -= static_cast<uint32_t>(got);
    // The last data of the announced size: anything after it means the file grew.
    if (record.file_size == 0 && record.file != nullptr && std::fgetc(record.file) != EOF)
        return give_up_changed_file(engine, record, false);
    size_t size = build_packet(engine.protocol.packet, header, record.packet_number,
                               std::span<const uint8_t>(data.data(), got));
    ++record.packet_number;
    engine.wait_timeout = PACKET_TIMEOUT_S;
    return send_packet_buffer(engine, size, SR_WAIT_BYTE);
}

StepResult step_check_packet_ack(Engine& engine, TransferRecord& record) {
    switch (engine.port().reply[0]) {
        case ACK:
            engine.window.progress_step_it();
            engine.packet_text = packet_text_for(record.packet_number);
            // While bytes remain, step_send_packet (the row before) runs next.
            if (record.file_size > 0) engine.step_index -= 2;
            return SR_NEXT;
        case NAK: {
            if (record.retry_count >= MAX_RETRIES) {
                engine.run_state = RS_ABORTED;
                return SR_NEXT;
            }
            ++record.retry_count;
            engine.step_index -= 1;
            engine.show_status("NACK", 2);
            size_t size = engine.protocol.packet[0] == STX ? LONG_PACKET_SIZE : SHORT_PACKET_SIZE;
            return send_packet_buffer(engine, size, SR_WAIT_BYTE);
        }
        case CAN:
            engine.run_state = RS_ABORTED;
            return SR_NEXT;
        default:
            // Line noise: ignored; the answer may still come within the packet's time.
            engine.step_index -= 1;
            return SR_WAIT_BYTE;
    }
}

StepResult step_send_eot(Engine& engine, TransferRecord& record) {
    engine.wait_timeout = EOT_TIMEOUT_S;
    record.retry_count = 0;
    return send_byte(engine, EOT, SR_WAIT_BYTE);
}

StepResult step_send_end_of_batch(Engine& engine, TransferRecord& record) {
    record.retry_count = 0;
    size_t size = build_closing_block(engine.protocol.packet);
    engine.wait_timeout = END_OF_BATCH_TIMEOUT_S;
    return send_packet_buffer(engine, size, SR_WAIT_BYTE);
}

}  // namespace trelvo

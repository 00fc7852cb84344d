#include "sim/block_sender.h"

#include <algorithm>
#include <span>

namespace trelvo::sim {

BlockSender::BlockSender(TransferContext context, std::string name, std::string data)
    : context_(context), name_(std::move(name)), data_(std::move(data)) {
    last_byte_ms_ = context_.clock.now_ms();
}

void BlockSender::start(bool requested) {
    last_byte_ms_ = context_.clock.now_ms();
    if (requested) send_info();
}

bool BlockSender::on_byte(uint8_t byte) {
    if (state_ != TransferState::Running) return false;
    bool was_can = last_was_can_;
    last_was_can_ = false;
    switch (byte) {
        case CAN:
            if (was_can) {
                state_ = TransferState::PcCancelled;
                context_.out.clear();
            }
            last_was_can_ = true;
            break;
        case CRC_REQUEST:
            on_request();
            break;
        case ACK:
            on_ack();
            break;
        case NAK:
            ++stats_.naks_received;
            on_nak();
            break;
        default:
            return false;
    }
    last_byte_ms_ = context_.clock.now_ms();
    quiet_rounds_ = 0;
    return true;
}

void BlockSender::on_time() {
    if (state_ != TransferState::Running) return;
    if (context_.clock.now_ms() - last_byte_ms_ < REQUEST_AGAIN_MS) return;
    last_byte_ms_ = context_.clock.now_ms();
    ++stats_.timeouts;
    if (++quiet_rounds_ >= QUIET_ROUNDS_LIMIT) state_ = TransferState::GaveUp;
}

void BlockSender::on_request() {
    switch (phase_) {
        case Phase::AwaitStart:
            send_info();
            break;
        case Phase::AwaitInfoAck:
            send_current(true);  // the PC did not get the information block
            break;
        case Phase::AwaitDataRequest:
            send_data_packet();
            break;
        case Phase::AwaitCloseRequest:
            send_closing();
            break;
        default:
            break;  // a request in the middle of the file: the answer to the block decides
    }
}

void BlockSender::on_ack() {
    naks_in_row_ = 0;
    switch (phase_) {
        case Phase::AwaitInfoAck:
            phase_ = Phase::AwaitDataRequest;
            break;
        case Phase::AwaitDataAck:
            after_data_ack();
            break;
        case Phase::AwaitEotAck:
            phase_ = Phase::AwaitCloseRequest;
            break;
        case Phase::AwaitCloseAck:
            state_ = TransferState::Completed;
            break;
        default:
            break;
    }
}

void BlockSender::on_nak() {
    switch (phase_) {
        case Phase::AwaitStart:
            send_info();  // a receiver that asks with NAK
            return;
        case Phase::AwaitInfoAck:
        case Phase::AwaitDataAck:
        case Phase::AwaitEotAck:
        case Phase::AwaitCloseAck:
            break;
        default:
            return;
    }
    if (++naks_in_row_ > ERROR_LIMIT) {
        queue_cancel_sequence(context_.out);
        state_ = TransferState::GaveUp;
        return;
    }
    send_current(true);
}

void BlockSender::send_current(bool repeat) {
    context_.out.push(std::span<const uint8_t>(current_.data(), current_size_));
    ++stats_.blocks_sent;
    if (repeat) ++stats_.repeats_sent;
}

// The size the file information block announces: the true one unless a fault says otherwise.
size_t BlockSender::announced_size() const {
    size_t size = data_.size();
    if (context_.faults.has(Fault::SizeLong)) return size + SHORT_DATA_SIZE;
    if (!context_.faults.has(Fault::SizeShort) || size == 0) return size;
    // The last packet holds what is left after the 1024-byte ones, in 128-byte packets.
    size_t tail = size % LONG_DATA_SIZE;
    size_t last = tail == 0 ? LONG_DATA_SIZE : (tail - 1) % SHORT_DATA_SIZE + 1;
    return size - last;
}

void BlockSender::send_info() {
    current_size_ = build_file_info_block(current_, name_, static_cast<uint32_t>(announced_size()));
    phase_ = Phase::AwaitInfoAck;
    send_current(false);
}

void BlockSender::send_data_packet() {
    size_t remaining = data_.size() - offset_;
    if (remaining == 0) {
        send_eot();
        return;
    }
    uint8_t header = remaining >= LONG_DATA_SIZE ? STX : SOH;
    in_flight_ = std::min(remaining, data_size_for(header));
    current_size_ =
        build_packet(current_, header, packet_number_,
                     std::span<const uint8_t>(
                         reinterpret_cast<const uint8_t*>(data_.data()) + offset_, in_flight_));
    phase_ = Phase::AwaitDataAck;
    if (first_packet_sent_) {
        send_current(false);
        return;
    }
    // The first transmission of the first data packet is where the sending faults play.
    first_packet_sent_ = true;
    const FaultSet& faults = context_.faults;
    PacketBuffer wire = current_;
    if (faults.has(Fault::WrongBlock)) {
        wire[1] = static_cast<uint8_t>(packet_number_ + 1);
        wire[2] = static_cast<uint8_t>(255 - wire[1]);
    }
    if (faults.has(Fault::CrcError)) wire[current_size_ - 1] ^= 0xFF;
    if (faults.has(Fault::StallInBlock)) {
        context_.out.push(std::span<const uint8_t>(wire.data(), STALL_AFTER_BYTES));
        context_.out.push(std::span<const uint8_t>(wire.data() + STALL_AFTER_BYTES,
                                                   current_size_ - STALL_AFTER_BYTES),
                          STALL_MS);
    } else {
        context_.out.push(std::span<const uint8_t>(wire.data(), current_size_));
    }
    ++stats_.blocks_sent;
    if (faults.has(Fault::SilentAfterPacket)) phase_ = Phase::Silent;
}

void BlockSender::after_data_ack() {
    offset_ += in_flight_;
    in_flight_ = 0;
    ++packet_number_;
    const FaultSet& faults = context_.faults;
    if (packet_number_ == 2) {
        if (faults.has(Fault::Can)) {
            queue_cancel_sequence(context_.out);
            state_ = TransferState::TesterCancelled;
            return;
        }
        if (faults.has(Fault::Xoff)) queue_xoff_hold(context_.out);
    }
    send_data_packet();
}

void BlockSender::send_eot() {
    current_[0] = EOT;
    current_size_ = 1;
    phase_ = Phase::AwaitEotAck;
    send_current(false);
}

void BlockSender::send_closing() {
    current_size_ = build_closing_block(current_);
    phase_ = Phase::AwaitCloseAck;
    send_current(false);
}

}  // namespace trelvo::sim

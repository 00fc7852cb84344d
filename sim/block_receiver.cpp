#include "sim/block_receiver.h"

#include <algorithm>

#include "protocol/packet.h"
#include "sim/file_names.h"

namespace trelvo::sim {

BlockReceiver::BlockReceiver(TransferContext context, std::string store_dir)
    : context_(context), store_dir_(std::move(store_dir)) {
    last_byte_ms_ = context_.clock.now_ms();
}

std::string BlockReceiver::stored_path() const {
    return path_in(store_dir_, name_);
}

void BlockReceiver::start() {
    last_byte_ms_ = context_.clock.now_ms();
    if (!context_.faults.has(Fault::NoC)) answer(CRC_REQUEST);
}

void BlockReceiver::answer(uint8_t byte) {
    if (byte == NAK) ++stats_.naks_sent;
    context_.out.push_byte(byte);
}

void BlockReceiver::answer(uint8_t first, uint8_t second) {
    answer(first);
    answer(second);
}

bool BlockReceiver::on_byte(uint8_t byte) {
    if (state_ != TransferState::Running) return false;
    last_byte_ms_ = context_.clock.now_ms();
    quiet_rounds_ = 0;
    if (packet_size_ != 0) {
        packet_.push_back(byte);
        if (packet_.size() == packet_size_) {
            on_packet();
            packet_.clear();
            packet_size_ = 0;
        }
        return true;
    }
    bool was_can = last_was_can_;
    last_was_can_ = false;
    switch (byte) {
        case SOH:
        case STX:
            packet_size_ = packet_size_for(byte);
            packet_.assign(1, byte);
            return true;
        case EOT:
            if (silent_) return true;
            if (expected_ == 0) {
                answer(NAK);
            } else if (context_.faults.has(Fault::NakEot) && !eot_refused_) {
                eot_refused_ = true;  // as receivers do that make sure the EOT was meant
                answer(NAK);
            } else {
                eot_seen_ = true;
                answer(ACK, CRC_REQUEST);
            }
            return true;
        case CAN:
            if (was_can) {
                state_ = TransferState::PcCancelled;
                context_.out.clear();
            }
            last_was_can_ = true;
            return true;
        default:
            return false;
    }
}

void BlockReceiver::on_time() {
    if (state_ != TransferState::Running) return;
    uint32_t quiet = context_.clock.now_ms() - last_byte_ms_;
    if (packet_size_ != 0) {
        if (quiet < PACKET_PAUSE_LIMIT_MS) return;
        packet_.clear();
        packet_size_ = 0;
        ++stats_.timeouts;
        last_byte_ms_ = context_.clock.now_ms();
        if (!silent_) request_again();
        return;
    }
    if (quiet < REQUEST_AGAIN_MS) return;
    last_byte_ms_ = context_.clock.now_ms();
    if (++quiet_rounds_ >= QUIET_ROUNDS_LIMIT) {
        state_ = TransferState::GaveUp;
        return;
    }
    ++stats_.timeouts;
    if (silent_ || (expected_ == 0 && context_.faults.has(Fault::NoC))) return;
    request_again();
}

void BlockReceiver::request_again() {
    if (expected_ == 0 || eot_seen_) {
        if (!context_.faults.has(Fault::NoC)) answer(CRC_REQUEST);
    } else {
        answer(NAK);
    }
}

void BlockReceiver::damaged() {
    ++stats_.crc_errors;
    if (++errors_in_row_ >= ERROR_LIMIT) {
        queue_cancel_sequence(context_.out);
        state_ = TransferState::GaveUp;
        return;
    }
    answer(NAK);
}

void BlockReceiver::out_of_sync() {
    queue_cancel_sequence(context_.out);
    state_ = TransferState::OutOfSync;
}

void BlockReceiver::on_packet() {
    if (silent_) return;
    size_t data_size = data_size_for(packet_[0]);
    uint8_t number = packet_[1];
    if (!packet_crc_ok(packet_) || packet_[2] != static_cast<uint8_t>(255 - number)) {
        damaged();
        return;
    }
    errors_in_row_ = 0;
    uint8_t expected = static_cast<uint8_t>(expected_ & 0xFF);
    uint8_t previous = static_cast<uint8_t>((expected_ - 1) & 0xFF);
    if (expected_ == 0) {
        if (number != 0) {
            out_of_sync();
        } else {
            accept_info();
        }
    } else if (eot_seen_ && number == 0) {
        answer(ACK);
        finish();
    } else if (!eot_seen_ && number == expected) {
        accept_data(data_size);
    } else if (number == previous) {
        ++stats_.duplicates;
        if (expected_ == 1) {
            answer(ACK, CRC_REQUEST);  // the information block again: our ACK C was lost
        } else {
            answer(ACK);
        }
    } else {
        out_of_sync();
    }
}

void BlockReceiver::accept_info() {
    FileInfo info = parse_file_info_block(packet_);
    if (info.name.empty()) {
        // An empty name ends a batch: there is no file.
        answer(ACK);
        state_ = TransferState::Completed;
        return;
    }
    // Without digits after the name's NUL the size is unknown: keep every data byte.
    const size_t data_end = 3 + data_size_for(packet_[0]);
    size_t nul = 3;
    while (nul < data_end && packet_[nul] != 0)
        ++nul;
    size_known_ = nul + 1 < data_end && packet_[nul + 1] >= '0' && packet_[nul + 1] <= '9';
    announced_name_ = info.name;
    name_ = bare_file_name(info.name);
    remaining_ = info.size;
    if (!store_dir_.empty() && !create_file(stored_path())) {
        queue_cancel_sequence(context_.out);
        state_ = TransferState::Refused;
        return;
    }
    expected_ = 1;
    answer(ACK, CRC_REQUEST);
}

void BlockReceiver::accept_data(size_t data_size) {
    const FaultSet& faults = context_.faults;
    if (faults.has(Fault::NakForever) ||
        (faults.has(Fault::NakPacket) && expected_ == 2 && naks_for_second_ < 3)) {
        if (expected_ == 2) ++naks_for_second_;
        answer(NAK);
        return;
    }
    if (faults.has(Fault::Can) && expected_ == 1) {
        queue_cancel_sequence(context_.out);
        state_ = TransferState::TesterCancelled;
        return;
    }
    size_t take = data_size;
    if (size_known_) take = std::min<size_t>(data_size, remaining_);
    data_.append(packet_.begin() + 3, packet_.begin() + 3 + static_cast<long>(take));
    if (size_known_) remaining_ -= static_cast<uint32_t>(take);
    ++stats_.packets_received;
    ++expected_;
    if (faults.has(Fault::SilentAfterPacket) && expected_ == 2) {
        silent_ = true;
        return;
    }
    if (faults.has(Fault::Xoff) && expected_ == 2) queue_xoff_hold(context_.out);
    answer(ACK);
}

void BlockReceiver::finish() {
    state_ = TransferState::Completed;
    if (!store_dir_.empty()) stored_ = write_file(stored_path(), data_);
}

}  // namespace trelvo::sim

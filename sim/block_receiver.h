// The tester as receiver of a block transfer (firmware, mobile list, autotest): asks with
// "C", takes the file information block (ACK C), acknowledges each good data packet, NAKs a
// damaged one, acknowledges a repeat of the packet it accepted last without storing it
// again, answers EOT with ACK C and the closing block with ACK. A block 0 counts as the
// closing block only after EOT, so a file of 256 or more packets goes through. Any other
// unexpected block number breaks the transfer off with the cancel sequence.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "sim/transfer.h"

namespace trelvo::sim {

class BlockReceiver {
  public:
    // `store_dir` empty: the file is only kept in memory.
    BlockReceiver(TransferContext context, std::string store_dir);

    // Sends the first request (unless the "no-c" fault is on).
    void start();
    // Takes one byte from the PC; false when it belongs to no packet and is no control byte
    // of the transfer (stray text, which the caller looks at).
    bool on_byte(uint8_t byte);
    // Time limits: a packet that stalls, a silence.
    void on_time();

    TransferState state() const { return state_; }
    const TransferStats& stats() const { return stats_; }
    const std::string& announced_name() const { return announced_name_; }
    const std::string& name() const { return name_; }  // the bare name it is stored under
    const std::string& data() const { return data_; }
    bool stored() const { return stored_; }  // written to the store directory
    std::string stored_path() const;

  private:
    void on_packet();
    void accept_info();
    void accept_data(size_t data_size);
    void finish();
    void damaged();
    void request_again();
    void out_of_sync();
    void answer(uint8_t byte);
    void answer(uint8_t first, uint8_t second);

    TransferContext context_;
    std::string store_dir_;
    TransferState state_ = TransferState::Running;
    TransferStats stats_;

    uint32_t expected_ = 0;  // packet number expected next; 0 until the information block
    bool eot_seen_ = false;
    bool eot_refused_ = false;  // "nak-eot": the first EOT got a NAK
    bool silent_ = false;       // "silent-after-packet": no answer any more
    bool size_known_ = false;
    uint32_t remaining_ = 0;  // bytes of the announced size not yet stored
    int naks_for_second_ = 0;
    int errors_in_row_ = 0;
    int quiet_rounds_ = 0;
    bool last_was_can_ = false;

    std::vector<uint8_t> packet_;
    size_t packet_size_ = 0;  // 0: not inside a packet
    uint32_t last_byte_ms_ = 0;

    std::string announced_name_;
    std::string name_;
    std::string data_;
    bool stored_ = false;
};

}  // namespace trelvo::sim

// The tester as sender of a block transfer (result list, mobile list), driven by the PC's
// requests: on "C" the file information block (name, size), after its ACK and the next "C"
// the data packets (1024 bytes while at least 1024 remain, else 128, the last one filled
// with SUB), each sent again on NAK, then EOT until it is acknowledged, and after the next
// "C" the closing block. Ten NAKs in a row for one block end the transfer with the cancel
// sequence. The "size-short" and "size-long" faults make the announced size lie.
#pragma once

#include <cstdint>
#include <string>

#include "protocol/packet.h"
#include "sim/transfer.h"

namespace trelvo::sim {

class BlockSender {
  public:
    BlockSender(TransferContext context, std::string name, std::string data);

    // Starts the transfer; `requested`: the PC's first "C" has come already.
    void start(bool requested);
    // Takes one byte from the PC; false when it is no answer of the transfer.
    bool on_byte(uint8_t byte);
    void on_time();

    TransferState state() const { return state_; }
    const TransferStats& stats() const { return stats_; }
    const std::string& name() const { return name_; }
    const std::string& data() const { return data_; }

  private:
    enum class Phase {
        AwaitStart,         // "C" for the file information block
        AwaitInfoAck,       //
        AwaitDataRequest,   // "C" for the first data packet
        AwaitDataAck,       //
        AwaitEotAck,        //
        AwaitCloseRequest,  // "C" for the closing block
        AwaitCloseAck,      //
        Silent,             // "silent-after-packet": answers nothing any more
    };

    void on_request();
    void on_ack();
    void on_nak();
    size_t announced_size() const;
    void send_info();
    void send_data_packet();
    void after_data_ack();
    void send_eot();
    void send_closing();
    void send_current(bool repeat);

    TransferContext context_;
    std::string name_;
    std::string data_;
    TransferState state_ = TransferState::Running;
    TransferStats stats_;
    Phase phase_ = Phase::AwaitStart;

    PacketBuffer current_{};
    size_t current_size_ = 0;  // bytes of current_ on the line: a packet, or 1 for EOT
    size_t offset_ = 0;        // file bytes sent in packets acknowledged so far
    size_t in_flight_ = 0;     // file bytes in the packet awaiting its answer
    uint32_t packet_number_ = 1;
    int naks_in_row_ = 0;
    bool first_packet_sent_ = false;
    bool last_was_can_ = false;
    uint32_t last_byte_ms_ = 0;
    int quiet_rounds_ = 0;
};

}  // namespace trelvo::sim

// The simulated KV71/KV72 tester: the tester's side of the serial line. It talks through any
// SerialDevice and is driven by service(), which never waits: it reads what has arrived,
// answers commands, runs block transfers in both directions and hands its output to the
// device paced to the configured baud rate.
//
// What it holds (result list, mobile list, autotest directory) starts from the
// configuration and changes as a tester's would: cleared results, received lists and
// autotests, deleted slots. Everything it did is kept for inspection.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "base/platform.h"
#include "base/serial_device.h"
#include "sim/block_receiver.h"
#include "sim/block_sender.h"
#include "sim/commands.h"
#include "sim/config.h"
#include "sim/input_pacer.h"
#include "sim/output_queue.h"
#include "sim/trace.h"

namespace trelvo::sim {

enum class TesterMode { Commands, Receiving, Sending };

enum class TransferKind { Firmware, MobileListIn, AutotestIn, ResultsOut, MobileListOut };
std::string_view transfer_kind_text(TransferKind kind);

struct TransferRecord {
    TransferKind kind;
    TransferState outcome;
    TransferStats stats;
    std::string name;  // the file's name (sent, or announced to the tester)
};

struct ReceivedFile {
    TransferKind kind;
    uint32_t slot = 0;           // for autotests: the slot of the command
    std::string announced_name;  // as it came in the file information block
    std::string name;            // the bare name it is kept and stored under
    std::string data;
    bool stored = false;  // written to the store directory
};

struct AutotestEntry {
    std::string name;
    std::string contents;
};

// Results a tester holds at most; the second field of the result status reply is what is
// left of it.
inline constexpr size_t RESULT_CAPACITY = 1000;
// Autotests per page of the directory reply.
inline constexpr uint32_t DIRECTORY_PAGE = 10;
// Longest command line; longer ones are dropped.
inline constexpr size_t MAX_COMMAND_LINE = 1000;
// With "idn-timeout": how long after the unanswered *IDN? a silent line makes the tester
// ask for a firmware image by itself (the PC gives up on the answer after 2 s and, without
// it, sends no mode command before the update).
inline constexpr uint32_t SILENT_IDENTITY_START_MS = 3000;

class Tester {
  public:
    Tester(SerialDevice& device, TickCounter& clock, TesterConfig config);
    Tester(const Tester&) = delete;
    Tester& operator=(const Tester&) = delete;

    // Reads, answers and sends what is due; never waits.
    void service();

    void set_trace(TraceSink sink) { trace_ = std::move(sink); }
    // Called with one line of text for each thing worth telling a person (commands,
    // transfers, stored files).
    void set_log(std::function<void(const std::string&)> log) { log_ = std::move(log); }

    // Inspection.
    TesterMode mode() const;
    const TesterConfig& config() const { return config_; }
    std::string identity() const;  // the reply line to *IDN?, without its line end
    const std::vector<std::string>& commands() const { return commands_; }
    int unknown_commands() const { return unknown_commands_; }
    const std::vector<TransferRecord>& transfers() const { return transfers_; }
    const std::vector<ReceivedFile>& received() const { return received_; }
    // Every received file by its bare name (the last one of each name).
    std::map<std::string, std::string> files() const;
    const std::string& result_list() const { return results_; }
    size_t result_count() const;
    bool results_cleared() const { return results_cleared_; }
    const std::string& mobile_list() const { return mobile_list_; }
    const std::string& mobile_list_name() const { return mobile_list_name_; }
    const std::string& firmware_name() const { return firmware_name_; }
    const std::vector<AutotestEntry>& autotests() const { return autotests_; }
    int local_count() const { return local_count_; }
    bool remote() const { return remote_; }
    bool output_pending() const { return !out_.empty(); }
    // Bytes from the PC still on their way along the simulated wire.
    bool input_pending() const { return in_.pending(); }
    bool output_failed() const { return out_.failed(); }
    // Bytes that came while a command line was being parsed (TesterConfig::parse_ms).
    uint64_t lost_bytes() const { return lost_bytes_; }

  private:
    void on_byte(uint8_t byte);
    void on_command_byte(uint8_t byte);
    void on_stray_byte(uint8_t byte);
    void on_line(const std::string& line);
    void run(const Command& command);
    void reply(const std::string& line);
    void send_directory_page(uint32_t first);
    void start_receiving(TransferKind kind, uint32_t slot);
    void start_sending(TransferKind kind, std::string name, std::string data, bool requested);
    void check_transfer_end();
    void end_transfer(TransferState outcome, const TransferStats& stats, std::string name);
    void keep_received(const BlockReceiver& receiver);
    void log(const std::string& line);

    SerialDevice& device_;
    TickCounter& clock_;
    TesterConfig config_;
    TraceSink trace_;
    std::function<void(const std::string&)> log_;
    OutputQueue out_;
    WideClock wide_;
    InputPacer in_;
    std::vector<uint8_t> arrived_;  // what service() takes in this time
    uint64_t byte_ns_ = 0;          // when the byte being handled had arrived
    uint64_t parsing_until_ns_ = 0;
    uint64_t lost_bytes_ = 0;

    std::string results_;
    bool results_cleared_ = false;
    std::string mobile_list_;
    std::string mobile_list_name_;
    std::string firmware_name_;
    std::vector<AutotestEntry> autotests_;

    std::string line_;
    bool line_too_long_ = false;
    std::string stray_;  // text between the bytes of a transfer
    std::vector<std::string> commands_;
    int unknown_commands_ = 0;
    int local_count_ = 0;
    bool remote_ = false;
    // "idn-timeout": the firmware receive starts by itself unless a command comes first.
    bool self_start_pending_ = false;
    uint32_t identity_unanswered_ms_ = 0;
    // The receive started by itself and has seen no transfer byte yet: a command still counts.
    bool self_started_ = false;

    TransferKind transfer_kind_ = TransferKind::Firmware;
    uint32_t transfer_slot_ = 0;
    std::unique_ptr<BlockReceiver> receiver_;
    std::unique_ptr<BlockSender> sender_;
    std::vector<TransferRecord> transfers_;
    std::vector<ReceivedFile> received_;
};

}  // namespace trelvo::sim

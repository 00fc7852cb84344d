#include "sim/tester.h"

#include <array>
#include <cstdio>

#include "protocol/packet.h"
#include "sim/sample_data.h"

namespace trelvo::sim {

namespace {

constexpr size_t MAX_STRAY_TEXT = 100;
constexpr size_t READ_CHUNK = 1024;

bool printable(uint8_t byte) {
    return byte >= 0x20 && byte < 0x7F;
}

std::string directory_line(uint32_t slot, const AutotestEntry& entry) {
    uint16_t crc = crc16(std::span<const uint8_t>(
        reinterpret_cast<const uint8_t*>(entry.contents.data()), entry.contents.size()));
    char fields[48];
    std::snprintf(fields, sizeof fields, "%u,DLD,%zu,%04X,", slot, entry.contents.size(), crc);
    return fields + entry.name;
}

}  // namespace

std::string_view transfer_kind_text(TransferKind kind) {
    switch (kind) {
        case TransferKind::Firmware:
            return "firmware";
        case TransferKind::MobileListIn:
            return "mobile list (in)";
        case TransferKind::AutotestIn:
            return "autotest";
        case TransferKind::ResultsOut:
            return "result list";
        case TransferKind::MobileListOut:
            return "mobile list (out)";
    }
    return "?";
}

Tester::Tester(SerialDevice& device, TickCounter& clock, TesterConfig config)
    : device_(device),
      clock_(clock),
      config_(std::move(config)),
      out_(device_, clock_, config_.baud, &trace_),
      wide_(clock_),
      in_(byte_time_ns(config_.baud)) {
    results_ = config_.results ? *config_.results : sample_result_list(config_.model);
    if (config_.mobile_list) {
        mobile_list_ = *config_.mobile_list;
        mobile_list_name_ = config_.mobile_list_name.empty()
                                ? std::string(BUILT_IN_MOBILE_LIST_NAME)
                                : config_.mobile_list_name;
    } else {
        mobile_list_ = sample_mobile_list(config_.model);
        mobile_list_name_ = BUILT_IN_MOBILE_LIST_NAME;
    }
    std::vector<std::string> names =
        config_.autotests ? *config_.autotests : sample_autotest_names();
    for (std::string& name : names)
        autotests_.push_back({name, built_in_autotest(name)});
}

TesterMode Tester::mode() const {
    if (receiver_) return TesterMode::Receiving;
    if (sender_) return TesterMode::Sending;
    return TesterMode::Commands;
}

std::string Tester::identity() const {
    if (config_.faults.has(Fault::IdnUnknown)) return unknown_identity();
    if (!config_.idn.empty()) return config_.idn;
    return identity_for_model(config_.model);
}

size_t Tester::result_count() const {
    if (config_.faults.has(Fault::NoResults)) return 0;
    return count_results(results_);
}

std::map<std::string, std::string> Tester::files() const {
    std::map<std::string, std::string> files;
    for (const ReceivedFile& file : received_)
        files[file.name] = file.data;
    return files;
}

void Tester::log(const std::string& line) {
    if (log_) log_(line);
}

void Tester::service() {
    std::array<uint8_t, READ_CHUNK> buffer{};
    const uint64_t now = wide_.now_ns();
    for (;;) {
        long count = device_.read(buffer.data(), buffer.size());
        if (count <= 0) break;
        in_.arrived(std::span<const uint8_t>(buffer.data(), static_cast<size_t>(count)), now);
        if (static_cast<size_t>(count) < buffer.size()) break;
    }
    arrived_.clear();
    uint64_t lost = 0;
    while (std::optional<InputPacer::Byte> byte = in_.take_due(now)) {
        if (byte->due_ns < parsing_until_ns_) {
            ++lost;
            continue;
        }
        byte_ns_ = byte->due_ns;
        arrived_.push_back(byte->value);
        on_byte(byte->value);
    }
    if (lost > 0) {
        lost_bytes_ += lost;
        log("lost " + std::to_string(lost) + " bytes while parsing a command line");
    }
    if (!arrived_.empty() && trace_) trace_(TraceDirection::In, clock_.now_ms(), arrived_);
    if (self_start_pending_ && mode() == TesterMode::Commands && line_.empty() &&
        clock_.now_ms() - identity_unanswered_ms_ >= SILENT_IDENTITY_START_MS) {
        self_start_pending_ = false;
        log("(no command after the identification: waiting for a firmware image)");
        start_receiving(TransferKind::Firmware, 0);
        self_started_ = true;
    }
    if (receiver_) receiver_->on_time();
    if (sender_) sender_->on_time();
    check_transfer_end();
    out_.pump();
}

void Tester::on_byte(uint8_t byte) {
    switch (mode()) {
        case TesterMode::Commands:
            on_command_byte(byte);
            return;
        case TesterMode::Receiving:
            if (receiver_->on_byte(byte)) {
                stray_.clear();
                self_started_ = false;
            } else {
                on_stray_byte(byte);
            }
            break;
        case TesterMode::Sending:
            if (byte == XOFF || byte == XON) {
                out_.set_held(byte == XOFF);
            } else if (byte == CRC_REQUEST && !stray_.empty()) {
                on_stray_byte(byte);  // a "C" inside text, as in "SYST:COMM"
            } else if (sender_->on_byte(byte)) {
                stray_.clear();
            } else {
                on_stray_byte(byte);
            }
            break;
    }
    check_transfer_end();
}

void Tester::on_command_byte(uint8_t byte) {
    if (byte == XOFF || byte == XON) {
        out_.set_held(byte == XOFF);
        return;
    }
    if (byte == '\n') {
        if (!line_too_long_) on_line(line_);
        line_.clear();
        line_too_long_ = false;
        return;
    }
    if (byte == '\r') return;
    if (byte == CRC_REQUEST && line_.empty()) {
        // No command begins with "C": it is a request without a command.
        if (config_.polling && result_count() > 0) {
            start_sending(TransferKind::ResultsOut, std::string(RESULT_LIST_NAME), results_, true);
        }
        return;
    }
    if (line_.size() >= MAX_COMMAND_LINE) {
        line_too_long_ = true;
        return;
    }
    line_.push_back(static_cast<char>(byte));
}

// Text that comes during a transfer: only the command back to local operation counts.
void Tester::on_stray_byte(uint8_t byte) {
    if (byte == '\r') return;
    if (byte == '\n') {
        std::string text = std::move(stray_);
        stray_.clear();
        if (self_started_ && !text.empty()) {
            // Nothing of a transfer came yet: the PC went on with commands after all.
            self_started_ = false;
            receiver_.reset();
            log("(firmware wait ended by a command)");
            on_line(text);
            return;
        }
        for (const Command& command : parse_command_line(text)) {
            if (command.kind != CommandKind::Local) continue;
            commands_.push_back(command.text);
            log("< " + command.text);
            TransferStats stats = receiver_ ? receiver_->stats() : sender_->stats();
            std::string name = receiver_ ? receiver_->announced_name() : sender_->name();
            out_.clear();
            receiver_.reset();
            sender_.reset();
            end_transfer(TransferState::Abandoned, stats, name);
            remote_ = false;
            ++local_count_;
            return;
        }
        return;
    }
    if (!printable(byte)) {
        stray_.clear();
        return;
    }
    if (stray_.size() < MAX_STRAY_TEXT) stray_.push_back(static_cast<char>(byte));
}

void Tester::on_line(const std::string& line) {
    for (char c : line) {
        if (!printable(static_cast<uint8_t>(c)) && c != '\t') {
            ++unknown_commands_;  // binary left over from a transfer
            return;
        }
    }
    // Deaf while it parses: what follows too closely is lost.
    if (!line.empty()) parsing_until_ns_ = byte_ns_ + uint64_t{config_.parse_ms} * 1'000'000;
    for (const Command& command : parse_command_line(line)) {
        if (mode() != TesterMode::Commands) break;  // a transfer took over the line
        commands_.push_back(command.text);
        log("< " + command.text);
        run(command);
    }
}

void Tester::reply(const std::string& line) {
    log("> " + line);
    out_.push(line + "\r\n");
}

void Tester::run(const Command& command) {
    if (command.kind != CommandKind::Local) remote_ = true;
    self_start_pending_ = false;
    switch (command.kind) {
        case CommandKind::Identify:
            if (config_.faults.has(Fault::IdnTimeout)) {
                // It still takes the commands that follow; without one it asks for firmware.
                log("(no answer to the identification)");
                self_start_pending_ = true;
                identity_unanswered_ms_ = clock_.now_ms();
            } else {
                reply(identity());
            }
            break;
        case CommandKind::ResultStatus: {
            size_t count = result_count();
            size_t free = count < RESULT_CAPACITY ? RESULT_CAPACITY - count : 0;
            reply(std::to_string(count) + "," + std::to_string(free));
            break;
        }
        case CommandKind::SendResults:
            start_sending(TransferKind::ResultsOut, std::string(RESULT_LIST_NAME),
                          config_.faults.has(Fault::NoResults) ? std::string() : results_, false);
            break;
        case CommandKind::ClearResults:
            results_.clear();
            results_cleared_ = true;
            log("results cleared");
            break;
        case CommandKind::SendMobileList:
            start_sending(TransferKind::MobileListOut, mobile_list_name_, mobile_list_, false);
            break;
        case CommandKind::ReceiveFirmware:
            start_receiving(TransferKind::Firmware, 0);
            break;
        case CommandKind::ReceiveMobileList:
            start_receiving(TransferKind::MobileListIn, 0);
            break;
        case CommandKind::ReceiveAutotest:
            start_receiving(TransferKind::AutotestIn, command.number);
            break;
        case CommandKind::AutotestDirectory:
            send_directory_page(command.number);
            break;
        case CommandKind::ClearAutotest:
            if (command.number >= 1 && command.number <= autotests_.size()) {
                log("autotest " + std::to_string(command.number) + " (" +
                    autotests_[command.number - 1].name + ") deleted");
                autotests_.erase(autotests_.begin() + (command.number - 1));
            }
            break;
        case CommandKind::Local:
            remote_ = false;
            ++local_count_;
            break;
        case CommandKind::Unknown:
            ++unknown_commands_;
            log("(unknown command)");
            break;
    }
}

void Tester::send_directory_page(uint32_t first) {
    if (first == 0) first = 1;
    const bool endless = config_.faults.has(Fault::EndlessDirectory);
    const AutotestEntry filler{"FILLER", built_in_autotest("FILLER")};
    for (uint32_t slot = first; slot < first + DIRECTORY_PAGE; ++slot) {
        if (slot <= autotests_.size()) {
            reply(directory_line(slot, autotests_[slot - 1]));
        } else if (endless) {
            // Every page is full, whatever is asked: the entries it holds come round again.
            reply(directory_line(
                slot, autotests_.empty() ? filler : autotests_[(slot - 1) % autotests_.size()]));
        }
    }
    out_.push(std::string(1, static_cast<char>(ETX)) + "\r\n");
}

void Tester::start_receiving(TransferKind kind, uint32_t slot) {
    self_started_ = false;
    transfer_kind_ = kind;
    transfer_slot_ = slot;
    stray_.clear();
    receiver_ = std::make_unique<BlockReceiver>(TransferContext{out_, clock_, config_.faults},
                                                config_.store_dir);
    log("receiving " + std::string(transfer_kind_text(kind)));
    receiver_->start();
}

void Tester::start_sending(TransferKind kind, std::string name, std::string data, bool requested) {
    transfer_kind_ = kind;
    stray_.clear();
    log("sending " + std::string(transfer_kind_text(kind)) + " " + name + " (" +
        std::to_string(data.size()) + " bytes)");
    sender_ = std::make_unique<BlockSender>(TransferContext{out_, clock_, config_.faults},
                                            std::move(name), std::move(data));
    sender_->start(requested);
}

void Tester::check_transfer_end() {
    if (receiver_ && receiver_->state() != TransferState::Running) {
        std::unique_ptr<BlockReceiver> receiver = std::move(receiver_);
        if (receiver->state() == TransferState::Completed && !receiver->name().empty())
            keep_received(*receiver);
        end_transfer(receiver->state(), receiver->stats(), receiver->announced_name());
    }
    if (sender_ && sender_->state() != TransferState::Running) {
        std::unique_ptr<BlockSender> sender = std::move(sender_);
        end_transfer(sender->state(), sender->stats(), sender->name());
    }
}

void Tester::end_transfer(TransferState outcome, const TransferStats& stats, std::string name) {
    log(std::string(transfer_kind_text(transfer_kind_)) + " transfer " +
        std::string(transfer_state_text(outcome)));
    transfers_.push_back({transfer_kind_, outcome, stats, std::move(name)});
    stray_.clear();
    line_.clear();
    line_too_long_ = false;
}

void Tester::keep_received(const BlockReceiver& receiver) {
    ReceivedFile file{transfer_kind_,  transfer_slot_,  receiver.announced_name(),
                      receiver.name(), receiver.data(), receiver.stored()};
    std::string where = config_.store_dir.empty() ? std::string(" (kept in memory)")
                        : file.stored             ? " as " + receiver.stored_path()
                                      : " but could not store it as " + receiver.stored_path();
    log("received " + file.name + " (" + std::to_string(file.data.size()) + " bytes)" + where);
    switch (transfer_kind_) {
        case TransferKind::Firmware:
            firmware_name_ = file.name;
            break;
        case TransferKind::MobileListIn:
            mobile_list_ = file.data;
            mobile_list_name_ = file.name;
            break;
        case TransferKind::AutotestIn:
            if (transfer_slot_ >= 1 && transfer_slot_ <= autotests_.size()) {
                log("autotest slot " + std::to_string(transfer_slot_) + " replaced (was " +
                    autotests_[transfer_slot_ - 1].name + ")");
                autotests_[transfer_slot_ - 1] = {file.name, file.data};
            } else {
                autotests_.push_back({file.name, file.data});
                log("autotest slot " + std::to_string(autotests_.size()) + " new");
            }
            break;
        default:
            break;
    }
    received_.push_back(std::move(file));
}

}  // namespace trelvo::sim

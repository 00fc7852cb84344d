#include "results/printout_conversion.h"

#include <algorithm>
#include <array>
#include <string>

#include "results/output_buffer.h"
#include "results/render_line.h"
#include "results/result_records.h"

namespace trelvo {

namespace {

bool starts_block(std::string_view line) {
    return line.substr(0, 3) == "A01";
}

class PrintoutWriter {
  public:
    PrintoutWriter(std::FILE* source, std::FILE* out, const SettingsState& state)
        : source_(source),
          output_(out),
          state_(state),
          start_(templates(state.printout_start.entries)),
          end_(templates(state.printout_end.entries)) {
        for (const MiddleLine& line : state.printout_middle.entries)
            middle_.emplace_back(line.text);
    }

    void run() {
        if (std::fseek(source_, 0, SEEK_SET) == 0) read_source();
        if (in_block_) render_section(end_);
    }

  private:
    static std::vector<LineTemplate> templates(const std::vector<std::string>& lines) {
        return {lines.begin(), lines.end()};
    }

    size_t read_more() {
        size_t got = std::fread(buffer_.data() + held_, 1, buffer_.size() - held_, source_);
        held_ += got;
        return got;
    }

    // Moves the unprocessed bytes from `start` on to the buffer's start.
    void compact(size_t start) {
        std::copy(buffer_.begin() + start, buffer_.begin() + held_, buffer_.begin());
        held_ -= start;
    }

    void read_source() {
        while (read_more() > 0) {
            size_t start = 0;
            for (;;) {
                output_.write_when_full();
                std::string_view text(buffer_.data(), held_);
                size_t end = text.find('\n', start);
                if (end == std::string_view::npos) break;
                std::string_view line = text.substr(start, end - start);
                if (!in_block_) {
                    if (starts_block(line)) {
                        start = begin_block(start);
                        end = std::string_view(buffer_.data(), held_).find('\n', start);
                    }
                    start = end + 1;
                } else if (starts_block(line)) {
                    render_section(end_);
                    output_.text.push_back('\f');
                    in_block_ = false;  // the same line starts the next block
                } else {
                    render_middle(line, text.substr(start));
                    start = end + 1;
                }
            }
            compact(start);
            if (held_ == buffer_.size()) return;  // a line that does not end within the buffer
        }
    }

    // Takes the block copy from the A01 line at `start` on and renders the start section.
    // Returns where the A01 line now starts in the buffer.
    size_t begin_block(size_t start) {
        if (held_ - start < buffer_.size()) {
            compact(start);
            start = 0;
            read_more();  // so that the records after the A01 record are in the copy
        }
        block_copy_.assign(buffer_.data() + start, held_ - start);
        block_values_.clear();
        render_section(start_);
        in_block_ = true;
        return start;
    }

    void render_section(const std::vector<LineTemplate>& section) {
        for (const LineTemplate& line : section)
            line.append(output_.text, block_copy_, state_.printout_tables.entries, block_values_);
    }

    void render_middle(std::string_view line, std::string_view records) {
        // The record number: the digits after the first character.
        uint32_t record_number = line.empty() ? 0 : leading_number(line.substr(1));
        const std::vector<MiddleLine>& lines = state_.printout_middle.entries;
        if (const MiddleLine* middle = find_middle_line(lines, record_number)) {
            line_values_.clear();  // the buffer moves on between lines
            middle_[static_cast<size_t>(middle - lines.data())].append(
                output_.text, records, state_.printout_tables.entries, line_values_);
        }
    }

    std::FILE* source_;
    OutputBuffer output_;
    const SettingsState& state_;
    // The template lines of the three sections, taken apart once for all blocks.
    std::vector<LineTemplate> start_;
    std::vector<LineTemplate> middle_;  // one per entry of the middle section
    std::vector<LineTemplate> end_;
    std::array<char, PRINTOUT_READ_BUFFER> buffer_;
    size_t held_ = 0;
    bool in_block_ = false;
    std::string block_copy_;
    RecordCache block_values_;  // of the block copy
    RecordCache line_values_;   // of the current middle line
};

}  // namespace

const MiddleLine* find_middle_line(const std::vector<MiddleLine>& middle, uint32_t record_number) {
    auto found = std::find_if(middle.begin(), middle.end(), [&](const MiddleLine& line) {
        return line.key >= 0 && static_cast<uint32_t>(line.key) == record_number;
    });
    return found == middle.end() ? nullptr : &*found;
}

void write_printout(std::FILE* source, std::FILE* out, const SettingsState& state) {
    PrintoutWriter(source, out, state).run();
}

}  // namespace trelvo

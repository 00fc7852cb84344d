// The printout template renderer. A template line is literal text and tags in braces:
//   {CLn}  the next character or value is written from column n on (right alignment off)
//   {CRn}  move to column n with right alignment: the next value ends in column n - 1
//   {LBn}  n blank lines before the line; {LAn}  n blank lines after it (both modulo 256)
//   {Aii-p}          value p of record Aii
//   {Aii-pTt}        entry (value p as index) of translation table t (T01 is the first)
//   {Aii-pTt|Ajj-q}  part (value q of record Ajj as index) of that entry, parts split by "|"
// A "{" always opens a tag; a tag that finds nothing writes nothing. The line buffer has 90
// columns (0 to 89); whatever falls outside them is dropped.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "base/settings_state.h"
#include "results/result_records.h"

namespace trelvo {

inline constexpr int PRINTOUT_COLUMNS = 90;

struct RenderedLine {
    int blank_before = 0;
    std::string text;  // up to its last written column, inner gaps as blanks; no CR LF
    int blank_after = 0;
};

// What lines rendered against one records text looked up in it, so that each record is
// found and split into its values once; cleared when the text changes. The texts looked
// in and the records found all run to the end of that text, so their start tells them apart.
class RecordCache {
  public:
    // find_record(text, id) for `text` within the records text.
    std::optional<std::string_view> find(std::string_view text, std::string_view id);
    // The values of a record found in the text; valid until the next call.
    const RecordValues& values(std::string_view record);
    void clear() { found_.clear(), used_ = 0; }

  private:
    struct Found {
        const char* text;
        std::string_view id;
        std::optional<std::string_view> record;
    };
    std::vector<Found> found_;
    struct Split {
        const char* record;
        RecordValues values;
    };
    std::vector<Split> split_;  // the first used_ are in use; the rest keep their storage
    size_t used_ = 0;
};

// A template line taken apart once (literal runs, column moves, value tags, blank lines),
// to be rendered against many records. Keeps pointing into the line's text.
class LineTemplate {
  public:
    explicit LineTemplate(std::string_view template_line);

    // Renders the line against `records`, a text holding result records (the block copy for
    // the start and end sections, the current record and what follows it for a middle line).
    RenderedLine render(std::string_view records,
                        const std::vector<TranslationTable>& tables) const;
    // Appends the rendered line to `out`: CR LF per blank line before, the line and CR LF,
    // CR LF per blank line after.
    void append(std::string& out, std::string_view records,
                const std::vector<TranslationTable>& tables, RecordCache& cache) const;

  private:
    class Renderer;
    // {Aii-pTt|Ajj-q}
    struct ValueTag {
        std::string_view id;
        uint32_t position = 0;
        uint32_t table = 0;
        bool has_selector = false;
        std::string_view selector_id;
        uint32_t selector_position = 0;
    };
    struct Step {
        enum class Kind { Literal, Column, Value } kind;
        std::string_view literal;
        int64_t column = 0;
        bool right_aligned = false;
        ValueTag value;
    };
    static ValueTag parse_value_tag(std::string_view tag);
    void add_tag(std::string_view tag);

    std::vector<Step> steps_;
    int blank_before_ = 0;
    int blank_after_ = 0;
};

// One line rendered with LineTemplate.
RenderedLine render_template(std::string_view template_line, std::string_view records,
                             const std::vector<TranslationTable>& tables);
// One line appended to `out` with LineTemplate::append, blank lines and CR LF included.
void render_line(std::string& out, std::string_view template_line, std::string_view records,
                 const std::vector<TranslationTable>& tables);

}  // namespace trelvo

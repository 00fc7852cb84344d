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

#include <string>
#include <string_view>
#include <vector>

#include "shell/settings_state.h"

namespace trelvo {

inline constexpr int PRINTOUT_COLUMNS = 90;

struct RenderedLine {
    int blank_before = 0;
    std::string text;  // up to its last written column, inner gaps as blanks; no CR LF
    int blank_after = 0;
};

// Renders `template_line` against `records`, a text holding result records (the block copy
// for the start and end sections, the current record and what follows it for a middle line).
RenderedLine render_template(std::string_view template_line, std::string_view records,
                             const std::vector<TranslationTable>& tables);

// Appends one rendered template line to `out`: CR LF per blank line before, the line and
// CR LF, CR LF per blank line after.
void render_line(std::string& out, std::string_view template_line, std::string_view records,
                 const std::vector<TranslationTable>& tables);

}  // namespace trelvo

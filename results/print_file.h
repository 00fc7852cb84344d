// Direct printout: prints a printout file line by line on a printer, with fixed margins of
// 8 % of the printable area, six lines per inch, and a new page when the page is full or a
// line starts with a form feed.
#pragma once

#include <cstdio>
#include <string_view>

#include "base/printer.h"

namespace trelvo {

// The printout file is read through this buffer, this many bytes at a time.
inline constexpr size_t PRINT_READ_BUFFER = 300;
inline constexpr size_t PRINT_READ_CHUNK = 200;

// Prints `printout` from its current position (the caller puts it at its start) as a
// document named `document_name`. Returns the result of the last page start (greater than
// 0 when a page was started), 0 when nothing was printed or the document did not start.
// A line ends at CR and the byte after it; a final line without CR is not printed.
int print_file(Printer& printer, std::FILE* printout, std::string_view document_name);

}  // namespace trelvo

#include "results/print_file.h"

#include <algorithm>
#include <array>

namespace trelvo {

namespace {

constexpr char FORM_FEED = '\f';
constexpr int LINES_PER_INCH = 6;

class PagePrinter {
  public:
    explicit PagePrinter(Printer& printer) : printer_(printer) {
        PrinterCapabilities caps = printer.capabilities();
        page_height_ = caps.printable_height;
        left_margin_ = (caps.printable_width / 100) * 8;
        top_margin_ = (caps.printable_height / 100) * 8;
        line_pitch_ = caps.pixels_per_inch_y / LINES_PER_INCH;
        position_ = top_margin_;
    }

    void print_line(std::string_view text) {
        if (!text.empty() && text.front() == FORM_FEED) {
            text.remove_prefix(1);
            position_ = page_height_;  // forces a new page
        }
        if (position_ > page_height_ - top_margin_) {
            end_page();
            position_ = top_margin_;
        }
        if (position_ == top_margin_ && !page_open_) {
            last_start_ = printer_.start_page();
            page_open_ = true;
        }
        printer_.text_out(left_margin_, position_, text);
        position_ += line_pitch_;
    }

    int finish() {
        if (page_open_ && last_start_ > 0) printer_.end_page();
        printer_.end_document();
        return last_start_;
    }

  private:
    void end_page() {
        if (page_open_) printer_.end_page();
        page_open_ = false;
    }

    Printer& printer_;
    int page_height_ = 0;
    int left_margin_ = 0;
    int top_margin_ = 0;
    int line_pitch_ = 0;
    int position_ = 0;
    bool page_open_ = false;
    int last_start_ = 0;
};

}  // namespace

int print_file(Printer& printer, std::FILE* printout, std::string_view document_name) {
    PagePrinter pages(printer);
    if (printer.start_document(document_name) <= 0) return 0;

    std::array<char, PRINT_READ_BUFFER> buffer;
    size_t held = 0;
    for (;;) {
        size_t room = std::min(PRINT_READ_CHUNK, buffer.size() - held);
        size_t got = std::fread(buffer.data() + held, 1, room, printout);
        if (got == 0) break;
        held += got;
        std::string_view text(buffer.data(), held);
        size_t start = 0;
        // A line ends at a CR that has its following byte (the LF) in the buffer.
        for (size_t cr; (cr = text.find('\r', start)) != std::string_view::npos && cr + 1 < held;
             start = cr + 2) {
            pages.print_line(text.substr(start, cr - start));
        }
        if (start == 0 && held == buffer.size()) {
            // A full buffer without a line end: print it as a line of its own rather than
            // lose it or read past the buffer; a CR at its end stays for the next read.
            start = text.back() == '\r' ? held - 1 : held;
            pages.print_line(text.substr(0, start));
        }
        std::copy(buffer.begin() + start, buffer.begin() + held, buffer.begin());
        held -= start;
    }
    return pages.finish();
}

}  // namespace trelvo

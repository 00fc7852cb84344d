#include "results/print_file.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/results/recording_printer.h"
#include "tests/results/test_files.h"

namespace trelvo {
namespace {

using testing::file_with;
using testing::FilePtr;
using testing::RecordingPrinter;

// An A4 sheet at 600 dpi: left margin (4800/100)*8 = 384, top margin (6600/100)*8 = 528,
// line pitch 600/6 = 100; lines fit while their position is at most 6600 - 528 = 6072, so a
// page holds the lines at 528, 628, ..., 6028: 56 lines.
PrinterCapabilities a4_600dpi() {
    PrinterCapabilities caps;
    caps.printable_width = 4800;
    caps.printable_height = 6600;
    caps.physical_width = 4960;
    caps.physical_height = 7016;
    caps.offset_x = 80;
    caps.offset_y = 208;
    caps.pixels_per_inch_x = 600;
    caps.pixels_per_inch_y = 600;
    return caps;
}
constexpr int LINES_PER_PAGE = 56;

int print_text(RecordingPrinter& printer, std::string_view text, std::string_view name = "x.txt") {
    FilePtr file = file_with(text);
    std::rewind(file.get());
    return print_file(printer, file.get(), name);
}

std::string lines(int count, std::string_view prefix = "line ") {
    std::string text;
    for (int k = 0; k < count; ++k)
        text += std::string(prefix) + std::to_string(k) + "\r\n";
    return text;
}

TEST(PrintFile, EmptyFileStartsAndEndsADocumentWithoutAPage) {
    RecordingPrinter printer(a4_600dpi());
    EXPECT_EQ(print_text(printer, "", "123_0914_12032024.txt"), 0);
    EXPECT_EQ(printer.calls,
              (std::vector<std::string>{"start document 123_0914_12032024.txt", "end document"}));
}

TEST(PrintFile, LinesStartAtTheMarginsSixToTheInch) {
    RecordingPrinter printer(a4_600dpi());
    EXPECT_EQ(print_text(printer, "first\r\n  second\r\n\r\nfourth\r\n", "result.txt"), 7);
    EXPECT_EQ(printer.calls, (std::vector<std::string>{
                                 "start document result.txt", "start page", "text 384,528 first",
                                 "text 384,628   second", "text 384,728 ", "text 384,828 fourth",
                                 "end page", "end document"}));
}

TEST(PrintFile, FullPageContinuesOnTheNextPageFromTheTopMargin) {
    RecordingPrinter printer(a4_600dpi());
    print_text(printer, lines(LINES_PER_PAGE + 1));
    ASSERT_EQ(printer.pages, 2);
    std::vector<std::string> tail(printer.calls.end() - 7, printer.calls.end());
    EXPECT_EQ(tail, (std::vector<std::string>{"text 384,5928 line 54", "text 384,6028 line 55",
                                              "end page", "start page", "text 384,528 line 56",
                                              "end page", "end document"}));
}

TEST(PrintFile, ExactlyOnePageOfLinesUsesOnePage) {
    RecordingPrinter printer(a4_600dpi());
    print_text(printer, lines(LINES_PER_PAGE));
    EXPECT_EQ(printer.pages, 1);
    EXPECT_EQ(printer.texts.size(), static_cast<size_t>(LINES_PER_PAGE));
}

TEST(PrintFile, FormFeedStartsTheNextReportOnANewPage) {
    RecordingPrinter printer(a4_600dpi());
    print_text(printer, "report 1\r\nend 1\r\n\freport 2\r\nend 2\r\n");
    EXPECT_EQ(printer.calls,
              (std::vector<std::string>{"start document x.txt", "start page",
                                        "text 384,528 report 1", "text 384,628 end 1", "end page",
                                        "start page", "text 384,528 report 2", "text 384,628 end 2",
                                        "end page", "end document"}));
}

TEST(PrintFile, FormFeedAloneOnItsLinePrintsAnEmptyFirstLine) {
    RecordingPrinter printer(a4_600dpi());
    print_text(printer, "a\r\n\f\r\nb\r\n");
    EXPECT_EQ(printer.texts, (std::vector<std::string>{"a", "", "b"}));
    EXPECT_EQ(printer.pages, 2);
}

TEST(PrintFile, FinalLineWithoutCrIsNotPrinted) {
    RecordingPrinter printer(a4_600dpi());
    print_text(printer, "kept\r\nlost");
    EXPECT_EQ(printer.texts, (std::vector<std::string>{"kept"}));
}

TEST(PrintFile, CrAsTheLastByteWaitsForItsLineFeed) {
    RecordingPrinter printer(a4_600dpi());
    print_text(printer, "kept\r\nlost\r");
    EXPECT_EQ(printer.texts, (std::vector<std::string>{"kept"}));
}

TEST(PrintFile, LinesCrossingReadChunksArePrintedWhole) {
    // Line lengths that put line ends on every offset of the 200-byte reads.
    std::string text;
    std::vector<std::string> expected;
    for (int k = 0; k < 400; ++k) {
        std::string line(static_cast<size_t>(k % 91), static_cast<char>('a' + k % 26));
        text += line + "\r\n";
        expected.push_back(line);
    }
    RecordingPrinter printer(a4_600dpi());
    print_text(printer, text);
    EXPECT_EQ(printer.texts, expected);
    EXPECT_EQ(printer.pages, (400 + LINES_PER_PAGE - 1) / LINES_PER_PAGE);
}

TEST(PrintFile, DocumentThatCannotStartPrintsNothing) {
    RecordingPrinter printer(a4_600dpi());
    printer.document_result = 0;
    EXPECT_EQ(print_text(printer, lines(3)), 0);
    EXPECT_EQ(printer.calls, (std::vector<std::string>{"start document x.txt"}));
}

TEST(PrintFile, ReturnsTheResultOfTheLastPageStart) {
    RecordingPrinter printer(a4_600dpi());
    printer.page_result = 0;
    EXPECT_EQ(print_text(printer, lines(2)), 0);
    // A page whose start failed is not ended at the end of the document.
    EXPECT_EQ(printer.calls.back(), "end document");
    EXPECT_EQ(printer.calls[printer.calls.size() - 2], "text 384,628 line 1");
}

TEST(PrintFile, LineExactlyOnTheBottomMarginStillFits) {
    PrinterCapabilities caps;
    caps.printable_width = 250;    // left margin (250/100)*8 = 16
    caps.printable_height = 400;   // top margin 32; lines fit up to 400 - 32 = 368
    caps.pixels_per_inch_y = 100;  // pitch 16: the 22nd line lands on 32 + 21*16 = 368
    RecordingPrinter printer(caps);
    print_text(printer, lines(23));
    EXPECT_EQ(printer.calls[2], "text 16,32 line 0");
    EXPECT_EQ(printer.calls[3], "text 16,48 line 1");
    EXPECT_EQ(printer.calls[23], "text 16,368 line 21");
    EXPECT_EQ(printer.calls[24], "end page");
    EXPECT_EQ(printer.calls[26], "text 16,32 line 22");
    EXPECT_EQ(printer.pages, 2);
}

TEST(PrintFile, OverlongLineWithoutCrNeverOverruns) {
    RecordingPrinter printer(a4_600dpi());
    print_text(printer, std::string(1000, 'x') + "\r\nafter\r\n");
    ASSERT_FALSE(printer.texts.empty());
    EXPECT_EQ(printer.texts.back(), "after");
    std::string joined;
    for (size_t k = 0; k + 1 < printer.texts.size(); ++k)
        joined += printer.texts[k];
    EXPECT_EQ(joined, std::string(1000, 'x'));
}

TEST(PrintFile, DegenerateDeviceNeverHangs) {
    RecordingPrinter printer(PrinterCapabilities{});
    print_text(printer, lines(5) + "\f\r\n" + lines(5));
    EXPECT_EQ(printer.texts.size(), 11u);
    EXPECT_EQ(printer.calls.back(), "end document");
}

}  // namespace
}  // namespace trelvo

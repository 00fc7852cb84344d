// Printing on a Qt printer: printouts drawn into PDF files and read back with pdftotext, and
// the printer the window takes when it opens and under "Print Setup".
#include <QPushButton>
#include <QRegularExpression>

#include <cstdio>
#include <memory>
#include <ostream>

#include "results/print_file.h"
#include "tests/ui/window_fixture.h"
#include "ui/printing.h"

namespace trelvo::ui::testing {
namespace {

std::unique_ptr<QPrinter> pdf_printer(const fs::path& file) {
    auto printer = std::make_unique<QPrinter>(QPrinter::HighResolution);
    printer->setOutputFormat(QPrinter::PdfFormat);
    printer->setOutputFileName(QString::fromStdString(file.string()));
    printer->setPageSize(QPageSize(QPageSize::A4));
    return printer;
}

// The pages of a PDF file as text, each a list of its non-empty lines.
std::vector<std::vector<std::string>> pdf_pages(const fs::path& pdf) {
    std::string text = output_of("pdftotext -layout '" + pdf.string() + "' -");
    std::vector<std::vector<std::string>> pages(1);
    std::string line;
    for (char c : text) {
        if (c == '\n' || c == '\f') {
            size_t first = line.find_first_not_of(' ');
            if (first != std::string::npos) pages.back().push_back(line.substr(first));
            line.clear();
            if (c == '\f') pages.emplace_back();
            continue;
        }
        line.push_back(c);
    }
    if (pages.back().empty()) pages.pop_back();
    return pages;
}

struct Word {
    double x = 0, y = 0;  // top left corner in points
};

// Where pdftotext finds the first word on the first page.
Word first_word(const fs::path& pdf) {
    std::string html = output_of("pdftotext -bbox -f 1 -l 1 '" + pdf.string() + "' -");
    static const QRegularExpression word(
        QStringLiteral("<word xMin=\"([0-9.]+)\" yMin=\"([0-9.]+)\""));
    QRegularExpressionMatch match = word.match(QString::fromStdString(html));
    if (!match.hasMatch()) return {};
    return {match.captured(1).toDouble(), match.captured(2).toDouble()};
}

std::string printout(int reports, int lines_each) {
    std::string text;
    for (int report = 1; report <= reports; ++report) {
        for (int line = 1; line <= lines_each; ++line) {
            if (report > 1 && line == 1) text += '\f';
            text += "Report " + std::to_string(report) + " line " + std::to_string(line) + "\r\n";
        }
    }
    return text;
}

class PrintToPdf : public WindowTest {
  protected:
    int print(const std::string& text, QtPrinter& printer) {
        const fs::path source = dir / "PRINTOUT.TXT";
        std::ofstream(source, std::ios::binary) << text;
        std::FILE* file = std::fopen(source.c_str(), "rb");
        int result = print_file(printer, file, "PRINTOUT.TXT");
        std::fclose(file);
        return result;
    }
};

TEST_F(PrintToPdf, SecondReportStartsOnANewPageWithoutTheFormFeed) {
    QtPrinter printer(pdf_printer(dir / "out.pdf"));
    EXPECT_GT(print(printout(2, 3), printer), 0);
    EXPECT_EQ(pdf_pages(dir / "out.pdf"),
              (std::vector<std::vector<std::string>>{
                  {"Report 1 line 1", "Report 1 line 2", "Report 1 line 3"},
                  {"Report 2 line 1", "Report 2 line 2", "Report 2 line 3"}}));
}

TEST_F(PrintToPdf, FirstLineSitsAtTheMarginsOfThePrintableArea) {
    QtPrinter printer(pdf_printer(dir / "out.pdf"));
    const PrinterCapabilities caps = printer.capabilities();
    EXPECT_EQ(caps.pixels_per_inch_y, printer.device().resolution());
    print(printout(1, 1), printer);
    const double to_points = 72.0 / caps.pixels_per_inch_x;
    const Word word = first_word(dir / "out.pdf");
    EXPECT_NEAR(word.x, (caps.offset_x + caps.printable_width / 100 * 8) * to_points, 1.0);
    EXPECT_NEAR(word.y, (caps.offset_y + caps.printable_height / 100 * 8) * to_points, 2.0);
}

TEST_F(PrintToPdf, LongPrintoutGoesOnFromTheTopOfTheNextPage) {
    QtPrinter printer(pdf_printer(dir / "out.pdf"));
    const PrinterCapabilities caps = printer.capabilities();
    const int top = caps.printable_height / 100 * 8;
    const int pitch = caps.pixels_per_inch_y / 6;
    const int per_page = (caps.printable_height - 2 * top) / pitch + 1;
    print(printout(1, per_page + 2), printer);
    auto pages = pdf_pages(dir / "out.pdf");
    ASSERT_EQ(pages.size(), 2u);
    EXPECT_EQ(pages[0].size(), static_cast<size_t>(per_page));
    EXPECT_EQ(pages[1],
              (std::vector<std::string>{"Report 1 line " + std::to_string(per_page + 1),
                                        "Report 1 line " + std::to_string(per_page + 2)}));
}

TEST_F(PrintToPdf, EmptyPrintoutLeavesNoDocument) {
    QtPrinter printer(pdf_printer(dir / "out.pdf"));
    EXPECT_EQ(print("", printer), 0);
    EXPECT_FALSE(fs::exists(dir / "out.pdf"));
}

// ---- The window's printer ----

class FakePrinters : public PrinterSource {
  public:
    explicit FakePrinters(fs::path dir) : dir_(std::move(dir)) {}
    std::unique_ptr<QPrinter> default_printer() override {
        return has_default ? pdf_printer(dir_ / "default.pdf") : nullptr;
    }
    PrinterSetup setup_dialog(QWidget*) override {
        ++dialogs;
        PrinterSetup setup;
        setup.outcome = outcome;
        if (outcome == PrinterSetup::Chosen) setup.printer = pdf_printer(dir_ / "chosen.pdf");
        return setup;
    }

    bool has_default = true;
    PrinterSetup::Outcome outcome = PrinterSetup::Cancelled;
    int dialogs = 0;

  private:
    fs::path dir_;
};

std::string output_file(const QtPrinter* printer) {
    return printer == nullptr ? "none" : printer->device().outputFileName().toStdString();
}

TEST_F(WindowTest, WindowTakesTheDefaultPrinterWhenItOpensAndNoneSilently) {
    FakePrinters printers(dir);
    open({MainWindowModel::START_WAIT, &printers});
    EXPECT_EQ(output_file(window->printer()), (dir / "default.pdf").string());
    window.reset();
    printers.has_default = false;
    open({MainWindowModel::START_WAIT, &printers});
    EXPECT_EQ(window->printer(), nullptr);
    EXPECT_TRUE(modals.messages.empty());
}

struct SetupCase {
    const char* rule;
    PrinterSetup::Outcome outcome;
    const char* printer_after;  // output file name of the window's printer
    std::vector<std::string> messages;
};
void PrintTo(const SetupCase& s, std::ostream* os) {
    *os << s.rule;
}

class PrintSetup : public WindowTest, public ::testing::WithParamInterface<SetupCase> {};

TEST_P(PrintSetup, ChosenPrinterReplacesTheOldOneOtherwiseItStays) {
    const SetupCase& s = GetParam();
    FakePrinters printers(dir);
    printers.outcome = s.outcome;
    state.operation_index = 3;  // Upload Result List
    state.options = OPT_DIRECT_PRINT;
    open({MainWindowModel::START_WAIT, &printers});
    QTest::mouseClick(&control<QPushButton>("print_setup_button"), Qt::LeftButton);
    EXPECT_EQ(printers.dialogs, 1);
    EXPECT_EQ(output_file(window->printer()), (dir / s.printer_after).string());
    EXPECT_EQ(modals.messages, s.messages);
}

INSTANTIATE_TEST_SUITE_P(
    Table, PrintSetup,
    ::testing::Values(SetupCase{"Chosen", PrinterSetup::Chosen, "chosen.pdf", {}},
                      SetupCase{"Cancelled", PrinterSetup::Cancelled, "default.pdf", {}},
                      SetupCase{
                          "Failed", PrinterSetup::Failed, "default.pdf", {"Invalid Printer\n"}}),
    [](const auto& info) { return std::string(info.param.rule); });

}  // namespace
}  // namespace trelvo::ui::testing

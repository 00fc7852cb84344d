// Printing on the desktop: a Qt printer behind the direct printout's printer seam, and where
// the main window gets its printer from: the default printer when it opens, the print
// dialog under "Print Setup".
#pragma once

#include <QPainter>
#include <QPrinter>

#include <memory>
#include <string_view>

#include "base/printer.h"

class QWidget;

namespace trelvo::ui {

// Draws on a QPrinter with the painter's default font, in device pixels from the top left
// corner of the printable area. The document is opened on the first page, so a document
// without pages leaves no output at all.
class QtPrinter final : public Printer {
  public:
    explicit QtPrinter(std::unique_ptr<QPrinter> printer);
    ~QtPrinter() override;
    QtPrinter(const QtPrinter&) = delete;
    QtPrinter& operator=(const QtPrinter&) = delete;

    PrinterCapabilities capabilities() override;
    int start_document(std::string_view document_name) override;
    int start_page() override;
    int text_out(int x, int y, std::string_view text) override;
    int end_page() override;
    int end_document() override;

    QPrinter& device() { return *printer_; }
    const QPrinter& device() const { return *printer_; }

  private:
    std::unique_ptr<QPrinter> printer_;
    QPainter painter_;
    bool document_open_ = false;
    bool page_open_ = false;
    int pages_ = 0;
};

// What the print dialog gave.
struct PrinterSetup {
    enum Outcome { Chosen, Cancelled, Failed } outcome = Cancelled;
    std::unique_ptr<QPrinter> printer;  // set when Chosen
};

// Where printers come from.
class PrinterSource {
  public:
    virtual ~PrinterSource() = default;
    // The default printer, without showing anything; nullptr when there is none.
    virtual std::unique_ptr<QPrinter> default_printer() = 0;
    // The print dialog in its set-up form, owned by `parent`.
    virtual PrinterSetup setup_dialog(QWidget* parent) = 0;
};

// The printers of the system (CUPS, or printing to a file when there is no printer).
class SystemPrinters final : public PrinterSource {
  public:
    std::unique_ptr<QPrinter> default_printer() override;
    PrinterSetup setup_dialog(QWidget* parent) override;
};

}  // namespace trelvo::ui

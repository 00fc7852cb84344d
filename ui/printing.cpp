#include "ui/printing.h"

#include <QFontMetrics>
#include <QPrintDialog>
#include <QPrinterInfo>

namespace trelvo::ui {

QtPrinter::QtPrinter(std::unique_ptr<QPrinter> printer) : printer_(std::move(printer)) {}

QtPrinter::~QtPrinter() {
    if (painter_.isActive()) painter_.end();
}

PrinterCapabilities QtPrinter::capabilities() {
    const QPageLayout layout = printer_->pageLayout();
    const int resolution = printer_->resolution();
    const QRect paper = layout.fullRectPixels(resolution);
    const QRect printable = layout.paintRectPixels(resolution);
    PrinterCapabilities caps;
    caps.printable_width = printable.width();
    caps.printable_height = printable.height();
    caps.physical_width = paper.width();
    caps.physical_height = paper.height();
    caps.offset_x = printable.x();
    caps.offset_y = printable.y();
    caps.pixels_per_inch_x = printer_->logicalDpiX();
    caps.pixels_per_inch_y = printer_->logicalDpiY();
    return caps;
}

int QtPrinter::start_document(std::string_view document_name) {
    if (document_open_ || !printer_->isValid()) return 0;
    printer_->setDocName(
        QString::fromUtf8(document_name.data(), static_cast<qsizetype>(document_name.size())));
    document_open_ = true;
    pages_ = 0;
    return 1;
}

int QtPrinter::start_page() {
    if (!document_open_ || page_open_) return 0;
    // The painter opens the document together with its first page; later pages follow it.
    bool started = pages_ == 0 ? painter_.begin(printer_.get()) : printer_->newPage();
    if (!started) return 0;
    page_open_ = true;
    ++pages_;
    return 1;
}

int QtPrinter::text_out(int x, int y, std::string_view text) {
    if (!page_open_) return 0;
    // (x, y) is the top left corner of the text; the painter draws on the baseline.
    const int ascent = QFontMetrics(painter_.font(), printer_.get()).ascent();
    painter_.drawText(QPoint(x, y + ascent),
                      QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size())));
    return 1;
}

int QtPrinter::end_page() {
    if (!page_open_) return 0;
    page_open_ = false;
    return 1;
}

int QtPrinter::end_document() {
    if (!document_open_) return 0;
    document_open_ = false;
    page_open_ = false;
    if (painter_.isActive()) return painter_.end() ? 1 : 0;
    return 1;
}

std::unique_ptr<QPrinter> SystemPrinters::default_printer() {
    const QPrinterInfo info = QPrinterInfo::defaultPrinter();
    if (info.isNull()) return nullptr;
    auto printer = std::make_unique<QPrinter>(info, QPrinter::HighResolution);
    if (!printer->isValid()) return nullptr;
    return printer;
}

PrinterSetup SystemPrinters::setup_dialog(QWidget* parent) {
    auto printer = std::make_unique<QPrinter>(QPrinter::HighResolution);
    printer->setCopyCount(1);
    printer->setPrintRange(QPrinter::AllPages);
    QPrintDialog dialog(printer.get(), parent);
    // Choosing the printer only: the printout decides what is printed.
    dialog.setOption(QAbstractPrintDialog::PrintSelection, false);
    dialog.setOption(QAbstractPrintDialog::PrintPageRange, false);
    dialog.setOption(QAbstractPrintDialog::PrintCurrentPage, false);
    dialog.setOption(QAbstractPrintDialog::PrintCollateCopies, false);
    PrinterSetup setup;
    if (dialog.exec() != QDialog::Accepted) return setup;
    if (!printer->isValid()) {
        setup.outcome = PrinterSetup::Failed;
        return setup;
    }
    setup.outcome = PrinterSetup::Chosen;
    setup.printer = std::move(printer);
    return setup;
}

}  // namespace trelvo::ui

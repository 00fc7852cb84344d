#include "ui/main_window.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QMessageBox>
#include <QMetaObject>
#include <QPushButton>
#include <QScreen>
#include <QSocketNotifier>

#include <algorithm>

#include "operations/operation_table.h"
#include "protocol/file_choice.h"
#include "ui/artwork.h"
#include "ui/autotest_slot_dialog.h"
#include "ui/dialog_units.h"
#include "ui/file_dialogs.h"
#include "ui/status_bar.h"
#include "ui_main_window.h"

namespace trelvo::ui {

namespace {

QString text_of(std::string_view text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

QMessageBox::Icon box_icon(MessageIcon icon) {
    switch (icon) {
        case MessageIcon::Error:
            return QMessageBox::Critical;
        case MessageIcon::Warning:
            return QMessageBox::Warning;
        case MessageIcon::Information:
            return QMessageBox::Information;
        case MessageIcon::None:
            break;
    }
    return QMessageBox::NoIcon;
}

constexpr Qt::WindowFlags WINDOW_FLAGS = Qt::Dialog | Qt::CustomizeWindowHint |
                                         Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                                         Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint;

// The status bar is at least a line of text and its frame high.
constexpr int STATUS_BAR_PADDING = 6;

}  // namespace

MainWindow::MainWindow(WindowShared& shared, MainWindowOptions options)
    : QDialog(nullptr, WINDOW_FLAGS),
      shared_(shared),
      options_(options),
      engine_(shared.state, *this, clock_, timer_),
      scanner_(shared.opener, clock_, device_namer(shared.state)),
      model_(shared, engine_, scanner_, *this, options.start_wait),
      signals_(shared.state, engine_, model_),
      form_(std::make_unique<Ui::MainWindow>()) {
    form_->setupUi(this);
    lay_out();
    setWindowIcon(program_icon());
    form_->logo->setPixmap(logo_pixmap(devicePixelRatioF()));
    fill_lists();
    timer_.set_handler([this](int identifier) {
        engine_.engine_tick(identifier);
        signals_.after_tick();
    });
    connect_controls();
    watch_signals();
}

MainWindow::~MainWindow() {
    // Nothing of the scan or the engine may reach the window while it goes.
    scanner_.stop();
    timer_.kill();
    engine_.printer = nullptr;
}

// Every signal of the window's controls, in one place.
void MainWindow::connect_controls() {
    connect(form_->ok_button, &QPushButton::clicked, this, [this] { model_.ok(); });
    connect(form_->cancel_button, &QPushButton::clicked, this, [this] { model_.cancel(); });
    connect(form_->directory_button, &QPushButton::clicked, this,
            [this] { choose_receiving_directory(); });
    connect(form_->print_setup_button, &QPushButton::clicked, this, [this] { print_setup(); });
    connect(form_->port_list, &QComboBox::activated, this,
            [this](int position) { model_.port_selected(position); });
    connect(form_->baud_list, &QComboBox::activated, this,
            [this](int position) { model_.baud_selected(position); });
    connect(form_->operation_list, &QComboBox::activated, this,
            [this](int position) { model_.operation_selected(position); });
    // Only the user's clicks: a box checked by the window itself says nothing.
    for (OptionBox box : OPTION_BOXES) {
        connect(check_box(box), &QCheckBox::clicked, this,
                [this, box](bool checked) { model_.check_box_clicked(box, checked); });
    }
}

// The program's signals, through the self-pipe their handler writes into.
void MainWindow::watch_signals() {
    if (options_.signal_fd < 0) return;
    auto* notifier = new QSocketNotifier(options_.signal_fd, QSocketNotifier::Read, this);
    connect(notifier, &QSocketNotifier::activated, this, [this] {
        SignalRequest request = take_signal_requests(options_.signal_fd);
        // A dialog open on top (a file choice, a message box) would hold the run in its
        // step: a request to end cancels it first, as Ctrl-C does in the console.
        if (request == SignalRequest::Terminate) {
            auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
            if (dialog != nullptr && dialog != this) dialog->reject();
        }
        signals_.handle(request);
    });
}

void MainWindow::lay_out() {
    convert_template_geometry(*this);
    // The status bar lies along the bottom edge, across the whole window.
    StatusBar& bar = *form_->status_bar;
    const int height = std::max(bar.height(), fontMetrics().height() + STATUS_BAR_PADDING);
    bar.setGeometry(0, this->height() - height, width(), height);
    // The narrow parts hold the elapsed time and the final status of a run.
    bar.fit_font({QString(), QStringLiteral("00:00"), QStringLiteral("Out of sync"), QString()});
}

void MainWindow::fill_lists() {
    for (std::string_view entry : BAUD_RATE_ENTRIES)
        form_->baud_list->addItem(text_of(entry));
    for (int position = 0; const Operation* operation = operation_at(position); ++position)
        form_->operation_list->addItem(text_of(operation->name));
}

void MainWindow::start() {
    // The direct printout's printer: the default one, without asking; none is no error.
    printer_ = choose_printer(true, true);
    engine_.printer = printer_.get();
    model_.initialise();
    if (const QScreen* screen = this->screen())
        move(screen->availableGeometry().center() - rect().center());
}

WindowEnd MainWindow::run() {
    start();
    if (!closed_) exec();
    return WindowEnd{true, model_.automatic_run_started()};
}

void MainWindow::reject() {
    model_.cancel();
}

const StatusBar& MainWindow::status_bar() const {
    return *form_->status_bar;
}

QCheckBox* MainWindow::check_box(OptionBox box) const {
    switch (box) {
        case OptionBox::Polling:
            return form_->polling_box;
        case OptionBox::DeleteAll:
            return form_->delete_all_box;
        case OptionBox::DirectPrintout:
            return form_->direct_printout_box;
        case OptionBox::ImeiFilename:
            return form_->imei_filename_box;
        case OptionBox::OutputFile:
            return form_->output_file_box;
        case OptionBox::Excel:
            return form_->excel_box;
        case OptionBox::Printout:
            return form_->printout_box;
    }
    return nullptr;
}

// ---- Showing the model ----

void MainWindow::model_changed(uint32_t what) {
    if ((what & VIEW_CONTROLS) != 0) show_controls();
    if ((what & VIEW_CHECK_BOXES) != 0) show_check_boxes();
    if ((what & VIEW_PORT_LIST) != 0) show_port_list();
    if ((what & VIEW_SELECTIONS) != 0) {
        form_->baud_list->setCurrentIndex(model_.selected_baud());
        form_->operation_list->setCurrentIndex(model_.selected_operation());
    }
}

void MainWindow::show_controls() {
    const ControlState& controls = model_.controls();
    form_->ok_button->setEnabled(controls.ok);
    form_->directory_button->setEnabled(controls.directory);
    form_->print_setup_button->setEnabled(controls.print_setup);
    form_->port_list->setEnabled(controls.port_list);
    form_->baud_list->setEnabled(controls.baud_list);
    form_->operation_list->setEnabled(controls.operation_list);
    for (OptionBox box : OPTION_BOXES)
        check_box(box)->setEnabled(controls.option_boxes);
}

void MainWindow::show_check_boxes() {
    for (OptionBox box : OPTION_BOXES)
        check_box(box)->setChecked(model_.checked(box));
}

void MainWindow::show_port_list() {
    // The scan only ever adds entries, in its own order.
    QComboBox& list = *form_->port_list;
    const std::vector<PortEntry>& ports = model_.ports();
    while (list.count() > static_cast<int>(ports.size()))
        list.removeItem(list.count() - 1);
    for (int position = list.count(); position < static_cast<int>(ports.size()); ++position) {
        const PortEntry& entry = ports[position];
        list.addItem(text_of(entry.text));
        if (entry.access_denied) {
            list.setItemData(position, QStringLiteral("In use by another program or not permitted"),
                             Qt::ToolTipRole);
        }
    }
    list.setCurrentIndex(model_.selected_port());
    // The open list is as wide as its longest entry ("COM33 ttyUSB0").
    list.view()->setMinimumWidth(list.view()->sizeHintForColumn(0) + list.view()->frameWidth() * 2);
}

// ---- The window surface ----

void MainWindow::set_status_text(int part, std::string_view text) {
    if (part < 0 || part >= static_cast<int>(status_.size())) return;
    status_[part] = std::string(text);
    form_->status_bar->set_text(part, text_of(text));
}

std::string MainWindow::status_text(int part) {
    return part >= 0 && part < static_cast<int>(status_.size()) ? status_[part] : std::string();
}

void MainWindow::set_file_line(std::string_view text) {
    QString line = text_of(text);
    line.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    form_->file_line->setText(line);
}

void MainWindow::message_box(std::string_view text, MessageIcon icon) {
    QMessageBox box(box_icon(icon), windowTitle(), text_of(text), QMessageBox::Ok, this);
    box.setTextFormat(Qt::PlainText);
    box.exec();
}

void MainWindow::set_progress_range(int low, int high) {
    // An empty range would turn the bar into a busy indicator.
    form_->progress_bar->setRange(low, std::max(high, low + 1));
}

void MainWindow::set_progress_position(int position) {
    QProgressBar& bar = *form_->progress_bar;
    bar.setValue(std::clamp(position, bar.minimum(), bar.maximum()));
}

void MainWindow::progress_step_it() {
    QProgressBar& bar = *form_->progress_bar;
    const int from = std::max(bar.value(), bar.minimum());
    bar.setValue(std::clamp(from + progress_step_, bar.minimum(), bar.maximum()));
}

std::optional<std::string> MainWindow::file_dialog(std::span<const FileFilter> filters,
                                                   std::string_view start_directory) {
    return choose_file_to_open(this, filters, start_directory);
}

std::optional<std::string> MainWindow::folder_dialog(std::string_view title,
                                                     std::string_view start_directory) {
    return choose_folder(this, title, start_directory);
}

AutotestChoice MainWindow::autotest_slot_dialog(std::string_view directory_text) {
    AutotestSlotDialog dialog(
        this, directory_text,
        [this](std::string_view text) { message_box(text, MessageIcon::None); },
        shared_.state.automatic_run());
    dialog.exec();
    return dialog.choice();
}

// ---- The frontend ----

void MainWindow::post(std::function<void()> work) {
    QMetaObject::invokeMethod(this, std::move(work), Qt::QueuedConnection);
}

void MainWindow::close_window() {
    closed_ = true;
    QDialog::done(QDialog::Accepted);
}

// ---- Buttons ----

// "Directory": the folder that receives the selected upload.
void MainWindow::choose_receiving_directory() {
    const Operation* operation = operation_at(model_.selected_operation());
    if (operation == nullptr) return;
    if (std::FILE* file = choose_file(shared_.state, *this, engine_.transfer, *operation))
        std::fclose(file);
}

void MainWindow::print_setup() {
    std::unique_ptr<QtPrinter> chosen = choose_printer(false, false);
    if (!chosen) return;  // cancelled or failed: the printer so far stays
    printer_ = std::move(chosen);
    engine_.printer = printer_.get();
}

std::unique_ptr<QtPrinter> MainWindow::choose_printer(bool default_wanted, bool quiet) {
    PrinterSource& source = options_.printers != nullptr ? *options_.printers : system_printers_;
    std::unique_ptr<QPrinter> printer;
    if (default_wanted) {
        printer = source.default_printer();
    } else {
        PrinterSetup setup = source.setup_dialog(this);
        if (setup.outcome == PrinterSetup::Failed && !quiet)
            message_box(INVALID_PRINTER, MessageIcon::None);
        printer = std::move(setup.printer);
    }
    return printer ? std::make_unique<QtPrinter>(std::move(printer)) : nullptr;
}

WindowEnd open_main_window(WindowShared& shared) {
    MainWindow window(shared);
    return window.run();
}

}  // namespace trelvo::ui

// The main window: its template at the window's font, and what it decides and shows when
// the user clicks, as it opens, as it starts a run and as it closes.
#include <QCheckBox>
#include <QComboBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>

#include <bit>
#include <ostream>

#include "base/error_table.h"
#include "operations/operation_table.h"
#include "tests/ui/window_fixture.h"
#include "ui/dialog_units.h"
#include "ui/status_bar.h"

namespace trelvo::ui::testing {
namespace {

constexpr int URL = 3;  // "Upload Result List" in the operation list

// ---- The template ----

struct TemplateControl {
    const char* name;
    const char* text;
    QRect units;
};

// In tab order where they take the focus; then the controls that do not.
const TemplateControl TEMPLATE[] = {
    {"ok_button", "OK", {268, 78, 50, 14}},
    {"cancel_button", "Cancel", {268, 98, 50, 14}},
    {"directory_button", "Directory", {268, 118, 50, 14}},
    {"print_setup_button", "Print Setup", {268, 138, 50, 14}},
    {"port_list", nullptr, {12, 62, 60, 61}},
    {"baud_list", nullptr, {91, 62, 70, 50}},
    {"operation_list", nullptr, {12, 90, 150, 111}},
    {"polling_box", "Polling mode", {173, 60, 60, 14}},
    {"delete_all_box", "Delete All", {173, 72, 60, 14}},
    {"direct_printout_box", "Direct Printout", {173, 84, 60, 14}},
    {"imei_filename_box", "IMEI Filename", {173, 96, 60, 14}},
    {"output_file_box", "Norvane Output File", {173, 113, 72, 12}},
    {"excel_box", "Excel (*.csv)", {173, 125, 60, 13}},
    {"printout_box", "Printout (*.txt)", {173, 137, 60, 13}},
    {"logo", nullptr, {12, 7, 150, 42}},
    {"product_text", "\nNorvane Trelvo for KV71 / KV72\nVersion 4.21", {168, 7, 150, 42}},
    {"port_label", "Port", {13, 54, 16, 8}},
    {"baud_label", "Baudrate", {92, 54, 32, 8}},
    {"function_label", "Function", {13, 82, 32, 8}},
    {"output_frame", nullptr, {168, 110, 88, 43}},
    {"file_line", "", {13, 123, 148, 16}},
    {"progress_bar", nullptr, {12, 141, 150, 12}},
};
constexpr int FOCUS_CONTROLS = 14;

QString text_of(const QWidget& widget) {
    if (auto* button = qobject_cast<const QAbstractButton*>(&widget)) return button->text();
    if (auto* label = qobject_cast<const QLabel*>(&widget)) return label->text();
    return QString();
}

class MainWindowLayout : public WindowTest {};

TEST_F(MainWindowLayout, ControlsSitWhereTheTemplateSaysAtTheWindowFont) {
    MainWindow& w = open();
    const DialogBaseUnits base = dialog_base_units(w.font());
    EXPECT_EQ(w.windowTitle(), "Trelvo KV70");
    EXPECT_EQ(w.size(), to_pixels(QRect(0, 0, 330, 171), base).size());
    EXPECT_EQ(w.minimumSize(), w.maximumSize());
    for (const TemplateControl& c : TEMPLATE) {
        SCOPED_TRACE(c.name);
        const QWidget& widget = control<QWidget>(c.name);
        const QRect expected = to_pixels(c.units, base);
        EXPECT_EQ(widget.pos(), expected.topLeft());
        const int needed = widget.sizeHint().width();
        if (qobject_cast<const QCheckBox*>(&widget) != nullptr ||
            qobject_cast<const QLabel*>(&widget) != nullptr) {
            // Only as much wider as the caption needs.
            EXPECT_EQ(widget.width(), std::max(expected.width(), needed));
        } else if (std::string(c.name) == "output_frame") {
            EXPECT_GE(widget.width(), expected.width());
        } else {
            EXPECT_EQ(widget.width(), expected.width());
        }
        if (c.text != nullptr) {
            EXPECT_LE(needed, widget.width());
        }
        // A drop-down list is as high as its closed box; everything else as the template.
        if (qobject_cast<const QComboBox*>(&widget) == nullptr) {
            EXPECT_EQ(widget.height(), expected.height());
        }
        if (c.text != nullptr) {
            EXPECT_EQ(text_of(widget), c.text);
        }
        if (std::string(c.name) == "output_frame") {
            // It still holds the three output boxes.
            for (const char* inside : {"output_file_box", "excel_box", "printout_box"})
                EXPECT_TRUE(widget.geometry().contains(control<QWidget>(inside).geometry()));
        }
    }
}

TEST_F(MainWindowLayout, TabGoesThroughTheControlsInTemplateOrder) {
    open();
    std::vector<std::string> order;
    QWidget* first = &control<QWidget>(TEMPLATE[0].name);
    QWidget* widget = first;
    do {
        if ((widget->focusPolicy() & Qt::TabFocus) != 0 && widget->parentWidget() == window.get())
            order.push_back(widget->objectName().toStdString());
        widget = widget->nextInFocusChain();
    } while (widget != first);
    std::vector<std::string> expected;
    for (int i = 0; i < FOCUS_CONTROLS; ++i)
        expected.push_back(TEMPLATE[i].name);
    EXPECT_EQ(order, expected);
}

TEST_F(MainWindowLayout, StatusBarPartsEndAtTheirEdgesAlongTheBottom) {
    MainWindow& w = open();
    const StatusBar& bar = w.status_bar();
    EXPECT_EQ(bar.geometry().bottom(), w.height() - 1);
    EXPECT_EQ(bar.width(), w.width());
    const int edges[] = {318, 355, 420, w.width()};
    for (int part = 0; part < StatusBar::PARTS; ++part) {
        SCOPED_TRACE(part);
        const QRect field = bar.field(part).geometry();
        EXPECT_EQ(field.x() + field.width(), edges[part]);
        if (part > 0) {
            EXPECT_GE(field.x(), edges[part - 1]);
        }
    }
}

TEST_F(MainWindowLayout, IdleWindowWithoutPortsShowsItsArtworkAndStillScans) {
    MainWindow& w = open();
    ASSERT_TRUE(wait_for_scan());
    EXPECT_FALSE(w.windowIcon().isNull());
    const QLabel& logo = control<QLabel>("logo");
    ASSERT_FALSE(logo.pixmap().isNull());
    EXPECT_TRUE(logo.alignment() & Qt::AlignCenter);
    const QSize logo_size = logo.pixmap().deviceIndependentSize().toSize();
    EXPECT_LE(logo_size.width(), logo.contentsRect().width());
    EXPECT_LE(logo_size.height(), logo.contentsRect().height());
    // No port at all: the scan leaves its text, the list stays empty.
    EXPECT_EQ(w.status_bar().text(0), "Scanning COM Ports");
    EXPECT_EQ(control<QComboBox>("port_list").count(), 0);
    EXPECT_EQ(control<QComboBox>("baud_list").itemText(2), " 9600");
    EXPECT_EQ(control<QComboBox>("operation_list").itemText(URL), "Upload Result List");
    w.grab().save(QStringLiteral(TRELVO_SCREENSHOT_DIR "/main-window-idle.png"));
}

// ---- Output check boxes ----

enum Box : uint32_t {
    POLL = OPT_POLLING,
    DEL = OPT_DELETE_ALL,
    XLS = OPT_EXCEL,
    TXT = OPT_PRINTOUT,
    IMEI = OPT_IMEI,
    DIRECT = OPT_DIRECT_PRINT,
    OUT = OPT_OUTPUT_FILE,
};

// The check box of each option bit, lowest bit first.
const char* const BOX_NAMES[] = {"polling_box",    "delete_all_box",    "excel_box",
                                 "printout_box",   "imei_filename_box", "direct_printout_box",
                                 "output_file_box"};
const char* box_name(uint32_t bit) {
    return BOX_NAMES[std::countr_zero(bit)];
}

// The boxes the window shows checked, as option bits.
uint32_t checked_boxes(WindowTest& test) {
    uint32_t bits = 0;
    for (uint32_t bit = 1; bit <= OUT; bit <<= 1) {
        if (test.control<QCheckBox>(box_name(bit)).isChecked()) bits |= bit;
    }
    return bits;
}

struct Click {
    const char* rule;
    uint32_t stored;   // option bits when the window opens
    uint32_t clicked;  // the box the user clicks
    uint32_t shown;    // boxes checked afterwards
    bool print_setup;  // "Print Setup" enabled afterwards
};
void PrintTo(const Click& c, std::ostream* os) {
    *os << c.rule;
}

class MainWindowCheckBoxes : public WindowTest, public ::testing::WithParamInterface<Click> {};

TEST_P(MainWindowCheckBoxes, ClickShowsTheRuleAtOnce) {
    const Click& c = GetParam();
    state.operation_index = URL;
    state.options = c.stored;
    open();
    QTest::mouseClick(&control<QCheckBox>(box_name(c.clicked)), Qt::LeftButton);
    EXPECT_EQ(checked_boxes(*this), c.shown);
    EXPECT_EQ(state.options, c.shown);
    EXPECT_EQ(control<QPushButton>("print_setup_button").isEnabled(), c.print_setup);
}

INSTANTIATE_TEST_SUITE_P(
    Table, MainWindowCheckBoxes,
    ::testing::Values(
        Click{"ExcelLastFallsBackToOutputFile", XLS, XLS, OUT, false},
        Click{"PrintoutLastFallsBackToOutputFileAndTakesDirect", TXT | DIRECT, TXT, OUT, false},
        Click{"OutputFileLastFallsBackToPrintout", OUT | IMEI, OUT, TXT | IMEI, false},
        Click{"DirectChecksPrintoutAndPrintSetup", OUT, DIRECT, OUT | TXT | DIRECT, true},
        Click{"DirectUncheckedKeepsPrintout", TXT | DIRECT, DIRECT, TXT, false}),
    [](const auto& info) { return std::string(info.param.rule); });

struct Opening {
    const char* rule;
    uint32_t stored;
    uint32_t shown;
};
void PrintTo(const Opening& o, std::ostream* os) {
    *os << o.rule;
}

class MainWindowOpening : public WindowTest, public ::testing::WithParamInterface<Opening> {};

TEST_P(MainWindowOpening, StoredOptionsAreShownWithTheirInvariants) {
    state.operation_index = URL;
    state.options = GetParam().stored;
    open();
    EXPECT_EQ(checked_boxes(*this), GetParam().shown);
}

INSTANTIATE_TEST_SUITE_P(Table, MainWindowOpening,
                         ::testing::Values(Opening{"NoOutputChecksOutputFile", POLL, POLL | OUT},
                                           Opening{"DirectForcesPrintout", DIRECT | XLS,
                                                   DIRECT | TXT | XLS}),
                         [](const auto& info) { return std::string(info.param.rule); });

// ---- Operations ----

class MainWindowOperations : public WindowTest {};

TEST_F(MainWindowOperations, OperationListDecidesDirectoryOptionsAndPrintSetup) {
    struct Row {
        const char* name;
        bool directory, options, print_setup;
    };
    const Row rows[] = {{"Firmware Update", false, false, false},
                        {"Download Mobile List", false, false, false},
                        {"Upload Mobile List", true, false, false},
                        {"Upload Result List", true, true, true},
                        {"Download Autotest", false, false, false}};
    state.options = DIRECT | TXT;
    open();
    QComboBox& list = control<QComboBox>("operation_list");
    list.setFocus();
    for (int position = 0; position < 5; ++position) {
        const Row& row = rows[position];
        SCOPED_TRACE(row.name);
        // The user moves through the list with the arrow keys.
        if (position > 0) QTest::keyClick(&list, Qt::Key_Down);
        EXPECT_EQ(list.currentText(), row.name);
        EXPECT_EQ(state.operation_index, static_cast<uint32_t>(position));
        EXPECT_EQ(control<QPushButton>("directory_button").isEnabled(), row.directory);
        EXPECT_EQ(control<QPushButton>("print_setup_button").isEnabled(), row.print_setup);
        for (uint32_t bit = 1; bit <= OUT; bit <<= 1)
            EXPECT_EQ(control<QCheckBox>(box_name(bit)).isEnabled(), row.options) << box_name(bit);
        EXPECT_TRUE(control<QPushButton>("ok_button").isEnabled());
    }
}

// ---- Runs: start, Cancel, automatic start ----

class MainWindowRun : public WindowTest {
  protected:
    // COM1 is a pseudo-terminal nobody answers on: a run starts and waits for the tester.
    void SetUp() override {
        WindowTest::SetUp();
        state.port_map[1] = tester.path();
        state.port_number = 1;
    }

    bool running() const { return window->engine().run_active(); }

    // Everything but Cancel takes no input.
    void expect_locked() {
        for (const TemplateControl& c : TEMPLATE) {
            if (std::string(c.name) == "cancel_button") continue;
            if ((control<QWidget>(c.name).focusPolicy() & Qt::TabFocus) == 0) continue;
            EXPECT_FALSE(control<QWidget>(c.name).isEnabled()) << c.name;
        }
        EXPECT_TRUE(control<QPushButton>("cancel_button").isEnabled());
    }

    PseudoTerminal tester;
};

TEST_F(MainWindowRun, CancelWhileRunningBreaksTheRunAndASecondCancelCloses) {
    state.operation_index = URL;
    MainWindow& w = open();
    ASSERT_TRUE(wait_for_scan());
    QTest::mouseClick(&control<QPushButton>("ok_button"), Qt::LeftButton);
    ASSERT_TRUE(wait_for([this] { return running(); }));
    expect_locked();

    QTest::mouseClick(&control<QPushButton>("cancel_button"), Qt::LeftButton);
    EXPECT_TRUE(w.isVisible());
    ASSERT_TRUE(wait_for([this] { return !running(); }));
    EXPECT_TRUE(w.isVisible());
    EXPECT_FALSE(w.closed());
    EXPECT_EQ(w.status_bar().text(2), "Aborted");
    EXPECT_TRUE(control<QPushButton>("ok_button").isEnabled());
    EXPECT_TRUE(control<QPushButton>("directory_button").isEnabled());
    EXPECT_FALSE(settings_written());

    QTest::mouseClick(&control<QPushButton>("cancel_button"), Qt::LeftButton);
    EXPECT_TRUE(w.closed());
    EXPECT_FALSE(w.isVisible());
    EXPECT_TRUE(settings_written());
    EXPECT_EQ(shared->run_result, "Aborted");
    EXPECT_TRUE(modals.messages.empty());
}

struct AutomaticStart {
    const char* rule;
    uint32_t command_line;  // CMD_* bits
    uint32_t options;
    int operation;
    bool starts;
    bool automatic_after;  // the run counts as automatic
};
void PrintTo(const AutomaticStart& a, std::ostream* os) {
    *os << a.rule;
}

class MainWindowAutomaticStart : public MainWindowRun,
                                 public ::testing::WithParamInterface<AutomaticStart> {};

TEST_P(MainWindowAutomaticStart, WindowStartsByItselfOnlyWhenTheTableSays) {
    const AutomaticStart& a = GetParam();
    state.command_line_flags = a.command_line;
    state.options = a.options | OUT;
    state.operation_index = static_cast<uint32_t>(a.operation);
    open();
    if (a.starts) {
        ASSERT_TRUE(wait_for([this] { return running(); }));
        expect_locked();
        EXPECT_EQ(state.automatic_run(), a.automatic_after);
    } else {
        ASSERT_TRUE(wait_for_scan());
        QTest::qWait(300);
        EXPECT_FALSE(running());
        EXPECT_TRUE(control<QPushButton>("ok_button").isEnabled());
    }
}

INSTANTIATE_TEST_SUITE_P(
    Table, MainWindowAutomaticStart,
    ::testing::Values(AutomaticStart{"PollingWithResultListStartsEveryOpening", 0, POLL, URL, true,
                                     false},
                      AutomaticStart{"PollingWithAnotherOperationWaits", 0, POLL, 2, false, false},
                      AutomaticStart{"AutomaticRunStarts", CMD_AUTOMATIC, 0, 0, true, true},
                      AutomaticStart{"CommandLinePollingRunIsNotAutomatic",
                                     CMD_POLLING | CMD_AUTOMATIC, POLL, URL, true, false}),
    [](const auto& info) { return std::string(info.param.rule); });

// ---- A port that cannot be opened ----

struct MissingPort {
    const char* rule;
    bool automatic;
    bool closes;
};
void PrintTo(const MissingPort& m, std::ostream* os) {
    *os << m.rule;
}

class MainWindowMissingPort : public WindowTest,
                              public ::testing::WithParamInterface<MissingPort> {};

TEST_P(MainWindowMissingPort, OkOnAPortThatCannotOpen) {
    const MissingPort& m = GetParam();
    state.port_map[2] = (dir / "gone").string();
    state.port_number = 2;
    state.command_line_flags = m.automatic ? CMD_AUTOMATIC : 0;
    MainWindow& w = open();
    ASSERT_TRUE(wait_for_scan());

    // An automatic start waits for the scan, which never opened the port; the window
    // keeps answering meanwhile.
    QElapsedTimer clock;
    clock.start();
    qint64 last = 0, longest = 0;
    QTimer beat;
    QObject::connect(&beat, &QTimer::timeout, [&] {
        longest = std::max(longest, clock.elapsed() - last);
        last = clock.elapsed();
    });
    // Each try at the start waits up to 100 ms; a loaded machine may stretch that, but the
    // window must never stay away for long.
    beat.start(10);
    QTest::qWait(1000);
    beat.stop();
    EXPECT_LT(longest, 400);
    EXPECT_EQ(w.model().start_pending(), m.automatic);

    QTest::mouseClick(&control<QPushButton>("ok_button"), Qt::LeftButton);
    ASSERT_TRUE(wait_for([&] { return w.closed() || !modals.messages.empty(); }));
    EXPECT_EQ(w.closed(), m.closes);
    EXPECT_FALSE(settings_written());
    EXPECT_FALSE(window->engine().run_active());
    if (m.automatic) {
        EXPECT_TRUE(modals.messages.empty());
        EXPECT_NE(state.error_flags, 0u);
    } else {
        ASSERT_EQ(modals.messages.size(), 1u);
        EXPECT_EQ(modals.messages[0].rfind("Invalid Port COM2\n", 0), 0u) << modals.messages[0];
        EXPECT_TRUE(w.isVisible());
    }
}

INSTANTIATE_TEST_SUITE_P(
    Table, MainWindowMissingPort,
    ::testing::Values(MissingPort{"AutomaticRunClosesWithoutSaving", true, true},
                      MissingPort{"InteractiveRunSaysSoAndStaysOpen", false, false}),
    [](const auto& info) { return std::string(info.param.rule); });

}  // namespace
}  // namespace trelvo::ui::testing

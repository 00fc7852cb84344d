// A whole Upload Result List run in the window against the kv70sim program on a
// pseudo-terminal, in real time: the user presses OK, the window stays responsive while
// the list comes in, the results are converted and printed, and Cancel closes.
#include <QElapsedTimer>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>

#include "tests/ui/simulator.h"
#include "tests/ui/window_fixture.h"
#include "ui/status_bar.h"

namespace trelvo::ui::testing {
namespace {

constexpr int RUN_LIMIT_MS = 60'000;

// The default printer prints into a PDF file.
class PdfPrinters : public PrinterSource {
  public:
    explicit PdfPrinters(fs::path file) : file_(std::move(file)) {}
    std::unique_ptr<QPrinter> default_printer() override {
        auto printer = std::make_unique<QPrinter>(QPrinter::HighResolution);
        printer->setOutputFormat(QPrinter::PdfFormat);
        printer->setOutputFileName(QString::fromStdString(file_.string()));
        return printer;
    }
    PrinterSetup setup_dialog(QWidget*) override { return {}; }

  private:
    fs::path file_;
};

class UploadRun : public WindowTest {
  protected:
    void SetUp() override {
        WindowTest::SetUp();
        fs::create_directories(dir / "out");
        link_ = dir / "kv71";
        // Paced like the real line, so the transfer takes its time.
        simulator_.start(link_, {"--model", "71", "--baud", "38400"});
    }
    void TearDown() override {
        window.reset();
        simulator_.stop();
        WindowTest::TearDown();
    }

    fs::path link_;
    Kv70sim simulator_;
};

TEST_F(UploadRun, ResultListComesInIsConvertedPrintedAndTheWindowClosesOnCancel) {
    state.port_map[1] = link_.string();
    state.port_number = 1;
    state.operation_index = 3;  // Upload Result List
    state.options = OPT_EXCEL | OPT_PRINTOUT | OPT_DIRECT_PRINT;
    state.directories[DIR_UL_RESULT] = (dir / "out").string() + "/";
    PdfPrinters printers(dir / "printed.pdf");
    MainWindow& w = open({MainWindowModel::START_WAIT, &printers});
    // The scan found the tester's port.
    ASSERT_TRUE(wait_for([&] { return w.status_bar().text(0) == QLatin1String("Idle"); }));

    QElapsedTimer clock;
    clock.start();
    qint64 last = 0, longest = 0, longest_receiving = 0;
    int progress = 0;
    QTimer beat;
    QObject::connect(&beat, &QTimer::timeout, [&] {
        qint64 gap = clock.elapsed() - last;
        longest = std::max(longest, gap);
        if (control<QLabel>("file_line").text().contains(QLatin1String("Receiving")))
            longest_receiving = std::max(longest_receiving, gap);
        last = clock.elapsed();
        progress = std::max(progress, control<QProgressBar>("progress_bar").value());
    });
    beat.start(10);
    QTest::mouseClick(&control<QPushButton>("ok_button"), Qt::LeftButton);
    ASSERT_TRUE(wait_for([&] { return w.engine().run_active(); }));
    ASSERT_TRUE(wait_for([&] { return !w.engine().run_active(); }, RUN_LIMIT_MS));
    beat.stop();

    EXPECT_EQ(w.status_bar().text(2), "Completed");
    EXPECT_EQ(w.status_bar().text(0), "Idle");
    EXPECT_TRUE(w.status_bar().text(3).contains(QLatin1String("KV71")))
        << w.status_bar().text(3).toStdString();
    EXPECT_TRUE(control<QLabel>("file_line").text().isEmpty());
    EXPECT_EQ(control<QProgressBar>("progress_bar").value(), 0);
    EXPECT_GT(progress, 0);
    // The window kept answering while the list came in (a tick takes what has arrived and
    // returns), and no conversion or printout held it for long either.
    EXPECT_GT(longest_receiving, 0);
    EXPECT_LT(longest_receiving, 200);
    EXPECT_LT(longest, 1000);
    EXPECT_TRUE(modals.messages.empty());

    int csv = 0, txt = 0;
    for (const auto& entry : fs::directory_iterator(dir / "out")) {
        csv += entry.path().extension() == ".csv";
        txt += entry.path().extension() == ".txt";
    }
    EXPECT_EQ(csv, 1);
    EXPECT_EQ(txt, 1);
    // The printout went to the window's printer: one page per tested phone.
    const std::string pages = output_of("pdftotext '" + (dir / "printed.pdf").string() + "' -");
    EXPECT_EQ(std::count(pages.begin(), pages.end(), '\f'), 3) << pages;

    EXPECT_TRUE(control<QPushButton>("ok_button").isEnabled());
    // Every part of the status bar shows its whole text.
    for (int part = 0; part < StatusBar::PARTS; ++part) {
        const QLabel& field = w.status_bar().field(part);
        EXPECT_LE(field.fontMetrics().horizontalAdvance(field.text()), field.contentsRect().width())
            << field.text().toStdString();
    }
    w.grab().save(QStringLiteral(TRELVO_SCREENSHOT_DIR "/main-window-completed.png"));

    QTest::mouseClick(&control<QPushButton>("cancel_button"), Qt::LeftButton);
    EXPECT_TRUE(w.closed());
    EXPECT_TRUE(settings_written());
    EXPECT_EQ(shared->run_result, "Completed");
}

}  // namespace
}  // namespace trelvo::ui::testing

// A whole Upload Result List run in the window against the kv70sim program on a
// pseudo-terminal, in real time: the user presses OK, the window stays responsive while
// the list comes in, the results are converted and printed, and Cancel closes.
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>

#include <QElapsedTimer>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>

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
        start_simulator();
    }
    void TearDown() override {
        window.reset();
        if (pid_ > 0) {
            ::kill(pid_, SIGTERM);
            ::waitpid(pid_, nullptr, 0);
        }
        WindowTest::TearDown();
    }

    // kv70sim on a link in the scratch directory, paced like the real line.
    void start_simulator() {
        const std::string program = std::string(TRELVO_BIN_DIR) + "/kv70sim";
        ASSERT_TRUE(fs::exists(program)) << program << " is not built";
        link_ = dir / "kv71";
        std::vector<std::string> args = {program,   "--link",  link_.string(),
                                         "--model", "71",      "--baud",
                                         "38400",   "--store", (dir / "store").string()};
        int out[2];
        ASSERT_EQ(::pipe(out), 0);
        pid_ = ::fork();
        ASSERT_GE(pid_, 0);
        if (pid_ == 0) {
            ::dup2(out[1], STDOUT_FILENO);
            std::freopen("/dev/null", "w", stderr);
            std::vector<char*> argv;
            for (std::string& arg : args)
                argv.push_back(arg.data());
            argv.push_back(nullptr);
            ::execv(program.c_str(), argv.data());
            _exit(127);
        }
        ::close(out[1]);
        std::string line;
        pollfd ready{out[0], POLLIN, 0};
        char c = 0;
        while (::poll(&ready, 1, WAIT_MS) > 0 && ::read(out[0], &c, 1) == 1 && c != '\n')
            line.push_back(c);
        ::close(out[0]);
        ASSERT_EQ(line, "ready " + link_.string());
    }

    fs::path link_;
    pid_t pid_ = -1;
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
    qint64 last = 0, longest = 0;
    int progress = 0;
    QTimer beat;
    QObject::connect(&beat, &QTimer::timeout, [&] {
        longest = std::max(longest, clock.elapsed() - last);
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
    // The window kept answering while the list came in: nothing held it longer than the
    // port routines wait for the rest of a packet (at most a second) or a conversion takes.
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
    const std::string pages = [&] {
        std::string text;
        std::FILE* pipe =
            ::popen(("pdftotext '" + (dir / "printed.pdf").string() + "' -").c_str(), "r");
        char buffer[4096];
        size_t got;
        while (pipe != nullptr && (got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0)
            text.append(buffer, got);
        if (pipe != nullptr) ::pclose(pipe);
        return text;
    }();
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

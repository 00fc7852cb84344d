#include "ui/desktop.h"

#include <QApplication>
#include <QMessageBox>

#include "ui/artwork.h"
#include "ui/main_window.h"

namespace trelvo::ui {

Desktop::Desktop(std::string program_name, WindowPlatform platform)
    : program_name_(std::move(program_name)), platform_(std::move(platform.name)) {
    argv_[0] = program_name_.data();
    argv_[1] = platform_option_;
    argv_[2] = platform_.data();
    application_ = std::make_unique<QApplication>(argc_, argv_);
    platform.held.reset();
    QApplication::setApplicationName(QStringLiteral("trelvo"));
    QApplication::setApplicationDisplayName(QStringLiteral("Trelvo KV70"));
    QApplication::setApplicationVersion(QString::fromLatin1(PROGRAM_VERSION));
    QApplication::setDesktopFileName(QStringLiteral("trelvo"));
    QApplication::setWindowIcon(program_icon());
}

Desktop::~Desktop() = default;

WindowEnd Desktop::open_window(WindowShared& shared, int signal_fd) {
    MainWindowOptions options;
    options.signal_fd = signal_fd;
    MainWindow window(shared, options);
    WindowEnd end = window.run();
    terminated_ = window.terminating();
    return end;
}

void Desktop::message_box(std::string_view text) {
    QMessageBox box(QMessageBox::NoIcon, QStringLiteral("Trelvo KV70"),
                    QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())),
                    QMessageBox::Ok);
    box.setTextFormat(Qt::PlainText);
    box.exec();
}

std::unique_ptr<Desktop> make_desktop(const char* program_name, std::string& problem) {
    if (!display_available()) return nullptr;
    WindowPlatform platform = window_platform();
    if (!platform.problem.empty()) {
        problem = platform.problem;
        return nullptr;
    }
    return std::make_unique<Desktop>(program_name != nullptr ? program_name : "trelvo",
                                     std::move(platform));
}

}  // namespace trelvo::ui

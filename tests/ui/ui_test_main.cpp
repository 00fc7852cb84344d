// The desktop window's tests run with a QApplication on the offscreen platform.
#include <gtest/gtest.h>

#include <QApplication>
#include <QByteArray>

#include <cstdio>
#include <cstdlib>

namespace {

// The offscreen platform's notes about what it cannot do are no finding of ours.
void filter_messages(QtMsgType type, const QMessageLogContext&, const QString& message) {
    if (type == QtDebugMsg || message.contains(QLatin1String("propagateSizeHints")) ||
        message.startsWith(QLatin1String("QStandardPaths:")))
        return;
    std::fprintf(stderr, "%s\n", message.toLocal8Bit().constData());
}

}  // namespace

int main(int argc, char** argv) {
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    qInstallMessageHandler(filter_messages);
    QApplication application(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}

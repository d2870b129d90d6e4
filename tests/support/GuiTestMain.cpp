#include <QApplication>
#include <QByteArray>
#include <gtest/gtest.h>

namespace {

QtMessageHandler qtDefaultHandler = nullptr;

// The offscreen platform says for every window shown that it cannot do what only a real screen does
// ("This plugin does not support propagateSizeHints()", "… raise()"). Thousands of those lines would
// bury a failing test's own output in the log.
void dropPlatformNoise(QtMsgType type, const QMessageLogContext& context, const QString& message) {
    if (type == QtWarningMsg && message.startsWith(QLatin1String("This plugin does not support ")))
        return;
    qtDefaultHandler(type, context, message);
}

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    qtDefaultHandler = qInstallMessageHandler(dropPlatformNoise);
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}

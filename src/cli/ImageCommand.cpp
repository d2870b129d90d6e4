#include "cli/CliSession.h"
#include "cli/Subcommands.h"
#include "link/SerialPort.h"

#include <QCommandLineParser>
#include <QEventLoop>
#include <QTimer>
#include <cstdio>

namespace tarvo::cli {

namespace {

int imageUsageError(const QString& text) {
    std::fprintf(stderr, "tarvo-cli image: %s\n", text.toLocal8Bit().constData());
    return ExitUsage;
}

// "None" or the two-digit choice for an address option.
bool addressChoice(const QCommandLineParser& parser, const QString& option, QString* choice) {
    *choice = QStringLiteral("None");
    if (!parser.isSet(option))
        return true;
    bool ok = false;
    const int address = parser.value(option).toInt(&ok);
    if (!ok || address < 0 || address > 63)
        return false;
    *choice = QStringLiteral("%1").arg(address, 2, 10, QLatin1Char('0'));
    return true;
}

int getImage(MainController& c, ConsoleOperator& op, const QString& path) {
    SettingsImageTransfer& images = c.settingsImages();
    op.setSaveFileName(path);
    images.getImageClicked();
    if (!images.capturing())
        return ExitFailed; // the file could not be made; the reason is on standard error
    QEventLoop loop;
    QObject::connect(&images, &SettingsImageTransfer::activityChanged, &loop, [&](bool busy) {
        if (!busy)
            loop.quit();
    });
    // The capture's own time limit ends a device that falls silent; one that keeps sending records
    // without the end record is given up here, said as such, and its gross stream started again.
    constexpr int kGetLimitMs = SettingsImageTransfer::kCaptureLimitMs + 5000;
    QTimer guard;
    guard.setSingleShot(true);
    QObject::connect(&guard, &QTimer::timeout, &loop, [&] {
        images.abandonCapture(
            QStringLiteral("Get Image: the device kept sending records for %1 s without the end record; %2 "
                           "was not written.")
                .arg(kGetLimitMs / 1000)
                .arg(path));
        loop.quit();
    });
    guard.start(kGetLimitMs);
    loop.exec();
    if (!images.lastCaptureSaved())
        return ExitFailed;
    std::printf("written: %s\n", path.toLocal8Bit().constData());
    std::fflush(stdout);
    return ExitOk;
}

int putImage(MainController& c, ConsoleOperator& op, const QString& path, const QString& from,
             const QString& to) {
    SettingsImageTransfer& images = c.settingsImages();
    images.setFromAddress(from);
    images.setToAddress(to);
    op.setOpenFileName(path);
    images.putImageClicked();
    bool allDone = !images.log().isEmpty();
    for (const QString& line : images.log()) {
        std::printf("%s\n", line.toLocal8Bit().constData());
        allDone = allDone && line.endsWith(QLatin1String(" Done"));
    }
    std::fflush(stdout);
    return allDone ? ExitOk : ExitFailed;
}

} // namespace

int runImage(const QStringList& args) {
    QCommandLineParser parser;
    parser.setApplicationDescription(
        "A device's settings image: \"get\" writes it into FILE (*.qmi), \"put\" sends FILE back to the "
        "device "
        "on the port of Tarvo.ini, or to every address from --from to --to. Messages go to standard error; "
        "put "
        "prints one line per address, \"Adr:N Done\" or \"Adr:N Error\". get writes nothing and says why "
        "when the device sends no end record (silent for 10 s, or still sending records after 15 s), and "
        "starts the device's gross stream again. Exit status 0 when everything succeeded, 1 otherwise, 2 for "
        "bad arguments.");
    parser.addPositionalArgument("ACTION", "get or put");
    parser.addPositionalArgument("FILE", "the settings image file (*.qmi)");
    parser.addOption({"from", "put: the first address 0..63 (default: none)", "N"});
    parser.addOption({"to", "put: the last address 0..63 (default: none, the connected device alone)", "M"});
    addHelpOption(parser);
    if (!parser.parse(QStringList{"tarvo-cli image"} + args))
        return imageUsageError(parser.errorText());
    if (printHelpIfAsked("image", parser))
        return ExitOk;
    const QStringList positional = parser.positionalArguments();
    if (positional.size() != 2 || positional[1].isEmpty())
        return imageUsageError("needs an action (get or put) and a file");
    const QString action = positional[0];
    if (action != "get" && action != "put")
        return imageUsageError("unknown action '" + action + "': get or put");
    QString from;
    QString to;
    if (!addressChoice(parser, "from", &from) || !addressChoice(parser, "to", &to))
        return imageUsageError("--from and --to need an address 0..63");
    if (action == "get" && (parser.isSet("from") || parser.isSet("to")))
        return imageUsageError("--from and --to belong to put");
    // A range below its start sends nothing (as on the Programming page); here it is said, not run.
    if (to.toInt() < from.toInt())
        return imageUsageError(parser.isSet("to") ? "--to must not be below --from"
                                                  : "--from needs --to (the last address)");

    CliSession session;
    MainController& c = session.controller();
    // The image comes as a run of lines the device sends on its own, which the CAN bridge has no frames
    // for: said at once instead of waiting for an end record that cannot come.
    if (c.ports().canChosen()) {
        std::fprintf(stderr,
                     "tarvo-cli image: a settings image travels over a serial port only, and Tarvo.ini "
                     "chooses the CAN bus (CANbus=1); nothing was sent\n");
        return ExitFailed;
    }
    if (!c.link().port().isOpen()) {
        std::fprintf(stderr, "tarvo-cli image: COM%d not available\n", c.link().port().portNumber());
        return ExitFailed;
    }
    if (action == "get")
        return getImage(c, session.op(), positional[1]);
    return putImage(c, session.op(), positional[1], from, to);
}

} // namespace tarvo::cli

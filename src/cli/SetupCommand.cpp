#include "cli/CliSession.h"
#include "cli/Subcommands.h"

#include <QCommandLineParser>
#include <cstdio>

namespace tarvo::cli {

namespace {

int setupUsageError(const QString& text) {
    std::fprintf(stderr, "tarvo-cli setup: %s\n", text.toLocal8Bit().constData());
    return ExitUsage;
}

int setupFailed(const QString& text) {
    std::fprintf(stderr, "tarvo-cli setup: %s\n", text.toLocal8Bit().constData());
    return ExitFailed;
}

void printLine(const QString& text) {
    std::fprintf(stdout, "%s\n", text.toLocal8Bit().constData());
}

// The device's entry texts as whole numbers where they are; a read that failed shows what came back.
bool readDevice(SetupTransfer& transfer, SetupGroup group, QStringList* texts) {
    transfer.readGroup(group);
    *texts = transfer.entryTexts(group);
    // A device that did not answer the group's first read leaves its entry empty.
    return !texts->isEmpty() && !texts->first().isEmpty() && texts->first() != "TimeOutErr";
}

// Before a check-weigher import: the entries a setup file does not carry are sent back as the device
// gave them, so each must have come. Without the trigger edge's answer the write would set a guessed
// edge (trailing) on a device that may trigger on the leading one.
bool readWholeCheckWeigher(MainController& c, SetupTransfer& transfer) {
    QStringList texts;
    return readDevice(transfer, SetupGroup::CheckWeigher, &texts) && c.checkWeigher().readComplete();
}

int diff(SetupTransfer& transfer, SetupGroup group, const QString& path) {
    QString error;
    const std::optional<QList<qint32>> file = SetupTransfer::readFile(group, path, &error);
    if (!file)
        return setupFailed("Setup file " + path + ": " + error);
    QStringList device;
    if (!readDevice(transfer, group, &device))
        return setupFailed("the device did not answer the read");
    const QStringList names = SetupFile::parameterNames(group);
    bool differs = false;
    for (qsizetype i = 0; i < names.size(); ++i) {
        const std::optional<qint32> value = SetupFile::wholeNumber(device.value(i));
        if (value && *value == file->at(i))
            continue;
        differs = true;
        const QString shown = value ? QString::number(*value) : "'" + device.value(i) + "'";
        printLine(QStringLiteral("%1: %2 -> %3").arg(names[i], shown).arg(file->at(i)));
    }
    std::fflush(stdout);
    return differs ? ExitFailed : ExitOk;
}

} // namespace

int runSetup(const QStringList& args) {
    QCommandLineParser parser;
    parser.addPositionalArgument("ACTION", "export (device to FILE), import (FILE to device) or diff");
    parser.addPositionalArgument("FILE", "the setup file (*.mxr)");
    parser.addOption({"group", "the parameter group: dosing or checkweigher", "G"});
    addHelpOption(parser);
    if (!parser.parse(QStringList{"tarvo-cli setup"} + args))
        return setupUsageError(parser.errorText());
    if (printHelpIfAsked("setup", parser))
        return ExitOk;
    const QStringList positional = parser.positionalArguments();
    if (positional.size() != 2 || positional[1].isEmpty())
        return setupUsageError("needs an action (export, import or diff) and a file");
    const QString action = positional[0];
    if (action != "export" && action != "import" && action != "diff")
        return setupUsageError("unknown action '" + action + "': export, import or diff");
    const QString group = parser.value("group");
    if (group != "dosing" && group != "checkweigher")
        return setupUsageError("--group needs dosing or checkweigher");
    const SetupGroup which = group == "dosing" ? SetupGroup::Dosing : SetupGroup::CheckWeigher;
    const QString path = positional[1];

    if (action == "import") {
        // A damaged file is refused before the device hears anything.
        QString error;
        if (!SetupTransfer::readFile(which, path, &error))
            return setupFailed("Setup file " + path + ": " + error + "; nothing was written");
    }

    CliSession session;
    MainController& c = session.controller();
    c.discovery().findDeviceClicked();
    if (!c.discovery().found())
        return setupFailed("no device found");
    SetupTransfer& transfer = c.setupTransfer();

    if (action == "diff")
        return diff(transfer, which, path);
    if (action == "export") {
        QStringList texts;
        if (!readDevice(transfer, which, &texts))
            return setupFailed("the device did not answer the read; no file was written");
        if (!transfer.writeFile(which, path))
            return ExitFailed;
        printLine("written: " + path);
        std::fflush(stdout);
        return ExitOk;
    }
    // The check-weigher write also sends the entries a setup file does not carry: they are read first.
    if (which == SetupGroup::CheckWeigher && !readWholeCheckWeigher(c, transfer))
        return setupFailed("the device did not answer the read; nothing was written");
    // The check-weigher's set-points are stored by a command of their own after the parameters; the
    // import is done only when both were acknowledged.
    const bool saved = transfer.importFile(which, path) &&
                       (which != SetupGroup::CheckWeigher || c.checkWeigher().setpointsSaved());
    printLine(QStringLiteral("saved: %1").arg(saved ? "yes" : "no"));
    std::fflush(stdout);
    return saved ? ExitOk : ExitFailed;
}

} // namespace tarvo::cli

#include "base/ReplacingFile.h"
#include "cli/ConsoleOperator.h"
#include "cli/Subcommands.h"
#include "firmware/FirmwareFile.h"

#include <QCommandLineParser>
#include <QTextStream>
#include <cstdio>

namespace tarvo::cli {

namespace {

// One line per value, so scripts can read it: CR and LF as \r and \n, other control and non-ASCII
// bytes as \xHH.
QString escapeBytes(const QByteArray& bytes) {
    QString out;
    out.reserve(bytes.size());
    for (const char ch : bytes) {
        const auto c = static_cast<unsigned char>(ch);
        if (c == '\r')
            out += QLatin1String("\\r");
        else if (c == '\n')
            out += QLatin1String("\\n");
        else if (c < 0x20 || c >= 0x7F)
            out += QStringLiteral("\\x%1").arg(c, 2, 16, QLatin1Char('0')).toUpper().replace("\\X", "\\x");
        else
            out += QLatin1Char(ch);
    }
    return out;
}

// Message texts carry file names, which may hold any character; only line breaks and other control
// characters are escaped there.
QString escapeControls(const QString& text) {
    QString out;
    for (const QChar ch : text) {
        if (ch == u'\r')
            out += QLatin1String("\\r");
        else if (ch == u'\n')
            out += QLatin1String("\\n");
        else if (ch.unicode() < 0x20 || ch.unicode() == 0x7F)
            out += QStringLiteral("\\x%1")
                       .arg(ch.unicode(), 2, 16, QLatin1Char('0'))
                       .toUpper()
                       .replace("\\X", "\\x");
        else
            out += ch;
    }
    return out;
}

QString hex4(std::uint16_t value) {
    return QStringLiteral("%1").arg(value, 4, 16, QLatin1Char('0')).toUpper();
}

} // namespace

int runFwinfo(const QStringList& args) {
    QCommandLineParser parser;
    parser.addPositionalArgument("FILE", "the firmware file to read");
    parser.addOption({"dump", "also print the image bytes from MemStart to MemEnd in hexadecimal"});
    addHelpOption(parser);
    const bool parsed = parser.parse(QStringList{"tarvo-cli fwinfo"} + args);
    if (parsed && printHelpIfAsked("fwinfo", parser))
        return ExitOk;
    const QStringList files = parser.positionalArguments();
    if (!parsed || files.size() != 1 || files.first().isEmpty()) {
        if (!parsed)
            std::fprintf(stderr, "tarvo-cli fwinfo: %s\n", parser.errorText().toLocal8Bit().constData());
        std::fprintf(stderr, "usage: tarvo-cli fwinfo [--dump] FILE\n");
        return ExitUsage;
    }
    const bool dump = parser.isSet("dump");
    // A file that cannot be read (missing, a folder, a pipe) has no header to show: its reason, and the
    // status of a failure, not of a wrong call.
    QString reason;
    if (!readRegularFile(files.first(), 1, &reason)) {
        std::fprintf(stderr, "tarvo-cli fwinfo: %s: %s\n",
                     escapeControls(files.first()).toLocal8Bit().constData(),
                     reason.toLocal8Bit().constData());
        return ExitFailed;
    }

    ConsoleOperator op;
    op.setQuiet(true); // everything shown is reported on standard output below
    FirmwareFile loader(op);
    loader.load(files.first());

    QTextStream out(stdout);
    out << "kind: " << int(loader.kind()) << '\n';
    out << "MemStart: " << hex4(loader.memStart()) << '\n';
    out << "MemEnd: " << hex4(loader.memEnd()) << '\n';
    out << "CodeSize: " << loader.codeSize() << '\n';
    out << "SW_Version: " << loader.softwareVersion() << '\n';
    out << "SW_Edition: " << loader.softwareEdition() << '\n';
    out << "MsgBuf: " << escapeBytes(loader.message().toLatin1()) << '\n';
    out << "parse: " << loader.status().text() << '\n';
    for (const TargetList::Entry& entry : loader.targets().entries())
        out << "target: " << entry.text << '\n';
    for (const ConsoleOperator::Shown& shown : op.messages())
        out << "message: " << escapeControls(shown.text) << " | " << escapeControls(shown.caption) << '\n';
    if (dump) {
        const std::uint16_t start = loader.memStart();
        const std::uint16_t end = loader.memEnd();
        const QByteArray bytes =
            start < end ? loader.image().sliced(start, end - start).toByteArray() : QByteArray();
        out << "image: " << bytes.toHex().toUpper() << '\n';
    }
    out.flush();

    return loader.loadSucceeded() ? ExitOk : ExitFailed;
}

} // namespace tarvo::cli

#include "Subcommands.h"

#include <QCommandLineParser>
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <iterator>

namespace tarvo::cli {

namespace {
constexpr Subcommand kSubcommands[] = {
    {"send", "send CMD [--start S] [--timeout MS] [--address NN] [--com N] [--baud R]", runSend},
    {"find", "find   (port, rate, \"Search only selected\" and device address from Tarvo.ini)", runFind},
    {"fwinfo", "fwinfo [--dump] FILE", runFwinfo},
    {"record",
     "record --seconds N --csv FILE [--slot K] [--trigger] [--yes] [--markers] | record --follow "
     "[--format csv|jsonl] [--seconds N] FILE|-",
     runRecord},
    {"run", "run \"LINE\" [--from N --to M] [--loop MS [--count K]] [--com N] [--baud R]", runRun},
    {"setup", "setup export|import|diff --group dosing|checkweigher FILE", runSetup},
    {"flash", "flash FIRMWARE [--kernel FILE] [--fixture]", runFlash},
    {"image", "image get FILE | image put FILE [--from N --to M]", runImage},
    {"measure", "measure (--csv FILE | --seconds N [--slot K] [--port N] [--yes]) [--band PCT] [--json]",
     runMeasure},
    {"tune",
     "tune --noise X --settle MS [--apply] [--report FILE] [--json] [--window MS] [--take MS] [--band PCT]",
     runTune},
};
} // namespace

const Subcommand* subcommands(qsizetype* count) {
    *count = static_cast<qsizetype>(std::size(kSubcommands));
    return kSubcommands;
}

std::optional<qint64> parseSeconds(const QString& text, int maxSeconds) {
    // Digits, with at most one decimal point (or comma); counted in whole milliseconds so nothing overflows.
    qint64 ms = 0;
    int digits = 0;
    int decimals = -1; // digits after the point, -1 before it
    for (const QChar c : text.trimmed()) {
        if ((c == u'.' || c == u',') && decimals < 0) {
            decimals = 0;
            continue;
        }
        if (!c.isDigit() || c.unicode() > '9')
            return std::nullopt;
        ++digits;
        if (decimals >= 0 && ++decimals > 3) {
            if (c != u'0') // finer than a millisecond
                return std::nullopt;
            continue;
        }
        ms = ms * 10 + (c.unicode() - '0');
        if (ms > qint64(maxSeconds) * 1000 * 1000) // far past the maximum already
            return std::nullopt;
    }
    if (digits == 0)
        return std::nullopt;
    for (int scale = std::max(decimals, 0); scale < 3; ++scale)
        ms *= 10;
    if (ms < 1 || ms > qint64(maxSeconds) * 1000)
        return std::nullopt;
    return ms;
}

std::optional<qint64> parseMilliseconds(const QString& text, qint64 maxMs) {
    qint64 ms = 0;
    const QString digits = text.trimmed();
    if (digits.isEmpty())
        return std::nullopt;
    for (const QChar c : digits) {
        if (!c.isDigit() || c.unicode() > '9')
            return std::nullopt;
        ms = ms * 10 + (c.unicode() - '0');
        if (ms > maxMs)
            return std::nullopt;
    }
    if (ms < 1)
        return std::nullopt;
    return ms;
}

void addHelpOption(QCommandLineParser& parser) {
    parser.addOption({{"h", "help"}, "show this help and exit"});
}

bool printHelpIfAsked(const char* name, const QCommandLineParser& parser) {
    if (!parser.isSet("help"))
        return false;
    const char* synopsis = name;
    for (const Subcommand& command : kSubcommands)
        if (std::strcmp(command.name, name) == 0)
            synopsis = command.synopsis;
    // Qt's first line names the program file alone; the subcommand's own usage line replaces it.
    const QString text = parser.helpText();
    const QByteArray rest = text.mid(text.indexOf(u'\n') + 1).toLocal8Bit();
    std::printf("usage: tarvo-cli %s\n%s", synopsis, rest.constData());
    std::fflush(stdout);
    return true;
}

} // namespace tarvo::cli

#include "Subcommands.h"

#include <QCommandLineParser>
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
};
} // namespace

const Subcommand* subcommands(qsizetype* count) {
    *count = static_cast<qsizetype>(std::size(kSubcommands));
    return kSubcommands;
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

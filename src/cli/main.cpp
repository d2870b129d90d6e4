#include "base/Version.h"
#include "cli/Subcommands.h"

#include <QCoreApplication>
#include <cstdio>
#include <cstring>

using namespace tarvo::cli;

// Asked for, the usage goes to standard output; as the answer to a mistake, to standard error.
static void usage(FILE* to) {
    std::fprintf(to, "usage: tarvo-cli SUBCOMMAND [options]\n\nsubcommands:\n");
    qsizetype count = 0;
    const Subcommand* table = subcommands(&count);
    for (qsizetype i = 0; i < count; ++i)
        std::fprintf(to, "  tarvo-cli %s\n", table[i].synopsis);
    std::fprintf(to, "\n\"tarvo-cli SUBCOMMAND --help\" describes one subcommand; \"tarvo-cli --version\" "
                     "prints the version.\n");
}

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName("tarvo-cli");
    QStringList args = QCoreApplication::arguments().mid(1);
    if (args.isEmpty()) {
        usage(stderr);
        return ExitUsage;
    }
    if (args.first() == "--help" || args.first() == "-h") {
        usage(stdout);
        return ExitOk;
    }
    if (args.first() == "--version") {
        std::printf("%s\n", TARVO_CAPTION);
        return ExitOk;
    }
    const QString name = args.takeFirst();
    qsizetype count = 0;
    const Subcommand* table = subcommands(&count);
    for (qsizetype i = 0; i < count; ++i)
        if (name == QLatin1String(table[i].name))
            return table[i].run(args);
    std::fprintf(stderr, "tarvo-cli: unknown subcommand '%s'\n", name.toLocal8Bit().constData());
    usage(stderr);
    return ExitUsage;
}

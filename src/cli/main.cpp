#include "cli/Subcommands.h"

#include <QCoreApplication>
#include <cstdio>
#include <cstring>

using namespace tarvo::cli;

static void usage() {
    std::fprintf(stderr, "usage: tarvo-cli SUBCOMMAND [options]\n\nsubcommands:\n");
    qsizetype count = 0;
    const Subcommand* table = subcommands(&count);
    for (qsizetype i = 0; i < count; ++i)
        std::fprintf(stderr, "  tarvo-cli %s\n", table[i].synopsis);
}

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName("tarvo-cli");
    QStringList args = QCoreApplication::arguments().mid(1);
    if (args.isEmpty() || args.first() == "--help" || args.first() == "-h") {
        usage();
        return args.isEmpty() ? ExitUsage : ExitOk;
    }
    const QString name = args.takeFirst();
    qsizetype count = 0;
    const Subcommand* table = subcommands(&count);
    for (qsizetype i = 0; i < count; ++i)
        if (name == QLatin1String(table[i].name))
            return table[i].run(args);
    std::fprintf(stderr, "tarvo-cli: unknown subcommand '%s'\n", name.toLocal8Bit().constData());
    usage();
    return ExitUsage;
}

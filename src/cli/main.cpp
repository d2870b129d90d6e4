#include "base/Version.h"
#include "cli/Subcommands.h"

#include <QCoreApplication>
#include <cerrno>
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

// Answers that never reached standard output (a full disk, a closed pipe, /dev/full) are no success: a
// script that redirects them would take an empty or cut file for the result.
static int withOutputWritten(const char* name, int status) {
    errno = 0;
    const bool flushed = std::fflush(stdout) == 0;
    const int error = errno;
    if (flushed && !std::ferror(stdout))
        return status;
    if (status != ExitOk)
        return status; // the subcommand has said what failed
    if (!flushed && error != 0)
        std::fprintf(stderr, "%s: standard output could not be written: %s\n", name, std::strerror(error));
    else
        std::fprintf(stderr, "%s: standard output could not be written\n", name);
    return ExitFailed;
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
        return withOutputWritten("tarvo-cli", ExitOk);
    }
    if (args.first() == "--version") {
        std::printf("%s\n", TARVO_CAPTION);
        return withOutputWritten("tarvo-cli", ExitOk);
    }
    const QString name = args.takeFirst();
    qsizetype count = 0;
    const Subcommand* table = subcommands(&count);
    for (qsizetype i = 0; i < count; ++i)
        if (name == QLatin1String(table[i].name))
            return withOutputWritten(("tarvo-cli " + name).toLocal8Bit().constData(), table[i].run(args));
    std::fprintf(stderr, "tarvo-cli: unknown subcommand '%s'\n", name.toLocal8Bit().constData());
    usage(stderr);
    return ExitUsage;
}

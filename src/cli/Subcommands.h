#pragma once

#include <QStringList>
#include <optional>

class QCommandLineParser;

namespace tarvo::cli {

// Exit statuses shared by every subcommand.
enum ExitStatus { ExitOk = 0, ExitFailed = 1, ExitUsage = 2, ExitInterrupted = 130 };

// One function per subcommand; args are the words after the subcommand's name.
int runSend(const QStringList& args);
int runFind(const QStringList& args);
int runFwinfo(const QStringList& args);
int runRecord(const QStringList& args);
int runRun(const QStringList& args);
int runSetup(const QStringList& args);
int runFlash(const QStringList& args);
int runImage(const QStringList& args);
int runMeasure(const QStringList& args);
int runTune(const QStringList& args);

struct Subcommand {
    const char* name;
    const char* synopsis;
    int (*run)(const QStringList& args);
};

// Every subcommand, in the order the usage text lists them.
const Subcommand* subcommands(qsizetype* count);

// A duration as a user writes it: whole or decimal seconds ("2", "0.5", "90.25"), at least one
// millisecond and at most maxSeconds. In milliseconds, or nullopt for anything else (a sign, an
// exponent, "inf", more than the maximum).
std::optional<qint64> parseSeconds(const QString& text, int maxSeconds);
// The same for a whole number of milliseconds 1..maxMs.
std::optional<qint64> parseMilliseconds(const QString& text, qint64 maxMs);

// -h and --help on a subcommand's parser.
void addHelpOption(QCommandLineParser& parser);
// When help was asked for: prints the subcommand's usage line and the parser's options and arguments
// to standard output and returns true; the subcommand then exits with ExitOk.
bool printHelpIfAsked(const char* name, const QCommandLineParser& parser);

} // namespace tarvo::cli

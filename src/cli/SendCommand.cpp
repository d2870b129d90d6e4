#include "cli/Subcommands.h"

namespace tarvo::cli {

int runSend(const QStringList&) { return ExitUsage; }

} // namespace tarvo::cli

#include "cli/Subcommands.h"

namespace tarvo::cli {

int runFwinfo(const QStringList&) { return ExitUsage; }

} // namespace tarvo::cli

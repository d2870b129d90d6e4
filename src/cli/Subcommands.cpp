#include "Subcommands.h"

#include <iterator>

namespace tarvo::cli {

namespace {
constexpr Subcommand kSubcommands[] = {
    {"send", "send CMD [--start S] [--timeout MS] [--address NN] [--com N] [--baud R]", runSend},
    {"find", "find   (port, rate, \"Search only selected\" and device address from Tarvo.ini)", runFind},
    {"fwinfo", "fwinfo [--dump] FILE", runFwinfo},
    {"record", "record --seconds N --csv FILE [--slot K] [--trigger] [--yes]", runRecord},
};
} // namespace

const Subcommand* subcommands(qsizetype* count) {
    *count = static_cast<qsizetype>(std::size(kSubcommands));
    return kSubcommands;
}

} // namespace tarvo::cli

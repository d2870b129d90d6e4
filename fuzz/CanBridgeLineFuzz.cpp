// Feeds arbitrary command lines to the CAN bridge, as the terminal, the command panel or a script hands
// them over. The adapter cannot open, so a line that needs the bus ends in its time-out text; lines the
// bridge answers itself ("OP", "DX", refusals) run whole.
#include "FuzzEntry.h"
#include "base/Operator.h"
#include "base/TimeScale.h"
#include "link/CanAdapter.h"
#include "link/CanBridge.h"
#include "link/CanLineParser.h"
#include "protocol/CommandTable.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    tarvo::fuzz::ensureApplication();
    static tarvo::SilentOperator op;
    static tarvo::CanAdapter adapter({QStringLiteral("no-such-plugin"), QStringLiteral("can0")});
    static tarvo::CanBridge bridge(adapter, op);
    // The bridge's waits shrink for the run; the replay program shares the factor with other targets.
    struct ScaleForThisInput {
        double before = tarvo::TimeScale::factor();
        ScaleForThisInput() { tarvo::TimeScale::setFactor(0.0001); }
        ~ScaleForThisInput() { tarvo::TimeScale::setFactor(before); }
    } scale;
    bridge.setErrorReporting(true);

    const QByteArray line(reinterpret_cast<const char*>(data), qsizetype(size));
    tarvo::CanLineParser parser(line);
    for (int i = 0; i <= line.size(); ++i) {
        const tarvo::CanLineParser::Token t = parser.next();
        if (t.kind == tarvo::CanLineParser::Token::Kind::Word &&
            (t.word.isEmpty() || t.word.size() > line.size()))
            __builtin_trap();
        if (t.kind == tarvo::CanLineParser::Token::Kind::Error && i > line.size())
            __builtin_trap();
    }
    const std::optional<QByteArray> reply = bridge.exchange(line);
    if (reply && reply->isEmpty())
        __builtin_trap();
    if (bridge.deviceAddress() < 0 || bridge.deviceAddress() > 63 ||
        bridge.lastRow() >= int(tarvo::kCommandRows))
        __builtin_trap();
    return 0;
}

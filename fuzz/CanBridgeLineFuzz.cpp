// Feeds arbitrary command lines to the CAN bridge, as the terminal, the command panel or a script hands
// them over. The adapter cannot open, so a line that needs the bus ends in its time-out text; lines the
// bridge answers itself ("OP", "DX", refusals) run whole.
#include "base/Operator.h"
#include "base/TimeScale.h"
#include "link/CanAdapter.h"
#include "link/CanBridge.h"
#include "link/CanLineParser.h"
#include "protocol/CommandTable.h"

#include <QCoreApplication>
#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static int argc = 1;
    static char name[] = "fuzz";
    static char* argv[] = {name, nullptr};
    static QCoreApplication app(argc, argv);
    static tarvo::SilentOperator op;
    static tarvo::CanAdapter adapter({QStringLiteral("no-such-plugin"), QStringLiteral("can0")});
    static tarvo::CanBridge bridge(adapter, op);
    tarvo::TimeScale::setFactor(0.0001);
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

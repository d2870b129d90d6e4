// Feeds arbitrary frames to the CAN bridge's frame decoding, as a bus full of other nodes, a faulty
// device or a corrupted adapter queue would deliver them: every 12 bytes are one frame (identifier,
// type, length, eight data bytes; the length may claim more than eight). The same bytes also go through
// the reply formats and the P packet builder with the decimal count and tare they carry.
#include "FuzzEntry.h"
#include "base/Operator.h"
#include "link/CanAdapter.h"
#include "link/CanBridge.h"
#include "link/CanReplyText.h"
#include "measure/StatusPacket.h"
#include "protocol/CommandTable.h"

#include <cstddef>
#include <cstdint>
#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    tarvo::fuzz::ensureApplication();
    static tarvo::SilentOperator op;
    static tarvo::CanAdapter adapter({QStringLiteral("no-such-plugin"), QStringLiteral("can0")});
    static tarvo::CanBridge bridge(adapter, op);
    static QByteArray last;
    bridge.setLineCallback([](QByteArrayView line) {
        // Every line ends in "\r", and a packet decodes whole.
        if (line.isEmpty() || line.back() != '\r')
            __builtin_trap();
        last = line.toByteArray();
    });
    bridge.setFrameCallback([](int, int length, const std::array<std::uint8_t, 8>&) {
        if (length < 0 || length > 8)
            __builtin_trap();
    });

    for (std::size_t at = 0; at + 12 <= size; at += 12) {
        tarvo::CanMessage m;
        m.id = std::uint32_t(data[at] | (data[at + 1] << 8)) & 0x7FF;
        m.type = data[at + 2];
        m.length = data[at + 3];
        std::memcpy(m.data.data(), data + at + 4, 8);
        bridge.frameReceived(m);

        const int decimals = static_cast<std::int8_t>(data[at + 2]);
        const double tare = tarvo::CanReplyText::floatAt(m, 4);
        if (const std::optional<QByteArray> packet = tarvo::CanReplyText::statusPacket(m, tare, decimals)) {
            if (packet->size() != 8 || packet->front() != 'P' ||
                !tarvo::StatusPacket::decode(packet->mid(1, 7)))
                __builtin_trap();
        }
        (void)tarvo::CanReplyText::measuredValue(tarvo::CanReplyText::floatAt(m, 0), decimals);
        const tarvo::CommandEntry& row = tarvo::kCommandTable[data[at] % tarvo::kCommandRows];
        if (tarvo::CanReplyText::parameterValue(row, m).isEmpty())
            __builtin_trap();
        const std::uint32_t code = std::uint32_t(data[at + 4] | (data[at + 5] << 8));
        if (const std::optional<QString> text = tarvo::CanReplyText::errorReport(code))
            if (!text->startsWith(QLatin1String("Error Code = ")))
                __builtin_trap();
    }
    return 0;
}

#pragma once

#include <QByteArray>
#include <optional>

namespace tarvo {

// What the transaction engine needs of the CAN bridge: one command line in, the bridge's reply text
// out (written as a serial device would answer), or nothing when the bridge set no reply.
class CanExchange {
public:
    virtual ~CanExchange() = default;
    virtual std::optional<QByteArray> exchange(const QByteArray& commandLine) = 0;
};

} // namespace tarvo

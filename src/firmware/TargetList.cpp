#include "TargetList.h"

#include <QStringList>

namespace tarvo {

void TargetList::add(std::uint32_t value) {
    if (count() >= kCapacity)
        return;
    if (entries_.capacity() < kCapacity)
        entries_.reserve(kCapacity);
    entries_.append({QStringLiteral("%1").arg(value, 8, 16, QLatin1Char('0')).toUpper(), value});
}

QStringList TargetList::texts() const {
    QStringList out;
    out.reserve(count());
    for (const Entry& e : entries_)
        out << e.text;
    return out;
}

} // namespace tarvo

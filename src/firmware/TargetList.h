#pragma once

#include <QList>
#include <QString>
#include <cstdint>

namespace tarvo {

// The device identifiers a firmware file is meant for, as the file's header lists them.
class TargetList {
public:
    static constexpr int kCapacity = 128;

    struct Entry {
        QString text; // eight upper-case hexadecimal digits
        std::uint32_t value = 0;
    };

    // Adding to a full list does nothing.
    void add(std::uint32_t value);
    void clear() { entries_.clear(); }
    int count() const { return static_cast<int>(entries_.size()); }
    const Entry& at(int index) const { return entries_.at(index); }
    const QList<Entry>& entries() const { return entries_; }
    QStringList texts() const;

private:
    QList<Entry> entries_;
};

} // namespace tarvo

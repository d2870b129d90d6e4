#pragma once

#include <QByteArrayView>
#include <array>
#include <cstdint>

namespace tarvo {

// The checksum of the maker's firmware files: the CRC-32 table and register, but every step feeds the
// block's *first* byte (the same byte N times). Files of that format carry checksums made this way,
// so it must stay exactly like this to recognise them.
class Crc32 {
public:
    // Checksum of a block; an empty block gives 0 (the complemented start value).
    std::uint32_t checksum(QByteArrayView block);

    const std::array<std::uint32_t, 256>& table() const { return table_; }

private:
    void buildTable();
    std::array<std::uint32_t, 256> table_{};
};

} // namespace tarvo

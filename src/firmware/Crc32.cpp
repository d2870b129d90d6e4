#include "Crc32.h"

namespace tarvo {

namespace {
constexpr std::uint32_t kPolynomial = 0xEDB88320u;
}

void Crc32::buildTable() {
    for (std::uint32_t i = 0; i < 256; ++i) {
        std::uint32_t entry = i;
        for (int bit = 0; bit < 8; ++bit)
            entry = (entry & 1u) ? (entry >> 1) ^ kPolynomial : entry >> 1;
        table_[i] = entry;
    }
}

std::uint32_t Crc32::checksum(QByteArrayView block) {
    // Rebuilt at every call, as the file format's own tools do; it costs nothing next to the block.
    buildTable();
    std::uint32_t reg = 0xFFFFFFFFu;
    if (!block.isEmpty()) {
        const auto first = static_cast<std::uint8_t>(block.front());
        for (qsizetype i = 0; i < block.size(); ++i)
            reg = table_[(reg ^ first) & 0xFFu] ^ (reg >> 8);
    }
    return ~reg;
}

} // namespace tarvo

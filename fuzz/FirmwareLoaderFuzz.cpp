// Feeds arbitrary bytes to the firmware loader, the way a dropped file reaches it. One loader serves
// every input, as in the program, so state left by one file meets the next.
#include "FuzzEntry.h"
#include "base/Operator.h"
#include "firmware/FirmwareFile.h"

#include <algorithm>

TARVO_FUZZ_ENTRY(firmware) {
    static tarvo::SilentOperator op;
    static tarvo::FirmwareFile loader(op);
    const QByteArrayView bytes(reinterpret_cast<const char*>(data), qsizetype(size));
    const bool loaded = loader.loadBytes(bytes, QStringLiteral("fuzz"));
    // What programming relies on must hold for any input.
    FUZZ_REQUIRE(loaded == loader.loadSucceeded());
    FUZZ_REQUIRE(!loaded || loader.status().ok());
    // A file that loads holds nothing the programming pass would leave out (it sends 0000..7FFF).
    if (loaded) {
        const QByteArrayView above = loader.image().sliced(0x8000);
        FUZZ_REQUIRE(std::all_of(above.begin(), above.end(), [](char c) { return c == char(0xFF); }));
    }
    FUZZ_REQUIRE(loader.codeSize() >= 0 && loader.codeSize() <= tarvo::FirmwareFile::kBufferSize);
    FUZZ_REQUIRE(loader.targets().count() <= tarvo::TargetList::kCapacity);
    FUZZ_REQUIRE(!loader.summaryLines().isEmpty());
    return 0;
}

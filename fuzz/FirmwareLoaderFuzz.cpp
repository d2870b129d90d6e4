// Feeds arbitrary bytes to the firmware loader, the way a dropped file reaches it. One loader serves
// every input, as in the program, so state left by one file meets the next.
#include "base/Operator.h"
#include "firmware/FirmwareFile.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static tarvo::SilentOperator op;
    static tarvo::FirmwareFile loader(op);
    const bool loaded = loader.loadBytes(QByteArrayView(reinterpret_cast<const char*>(data), qsizetype(size)),
                                         QStringLiteral("fuzz"));
    // What programming relies on must hold for any input.
    if (loaded != loader.loadSucceeded() || (loaded && !loader.status().ok()))
        __builtin_trap();
    if (loader.codeSize() < 0 || loader.codeSize() > tarvo::FirmwareFile::kBufferSize ||
        loader.targets().count() > tarvo::TargetList::kCapacity)
        __builtin_trap();
    (void)loader.summaryLines();
    return 0;
}

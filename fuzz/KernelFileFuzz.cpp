// Feeds arbitrary bytes to the programming kernel's S-record reader, as a chosen "Prog41.a20" reaches
// it. One reader serves every input, as the upgrade keeps one.
#include "firmware/KernelFile.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static tarvo::KernelFile kernel;
    const auto state = kernel.readText(QByteArrayView(reinterpret_cast<const char*>(data), qsizetype(size)));
    // What the dialogue relies on must hold for any input: a fixed buffer, a state of the four, usable
    // only as a whole clean kernel of exactly its 1024 bytes (anything else says why), never more than the
    // buffer holds.
    if (state == tarvo::KernelFile::State::OpenFailed || int(state) > 3)
        __builtin_trap();
    if (kernel.buffer().size() != tarvo::KernelFile::kBufferSize ||
        kernel.kernel().size() != tarvo::KernelFile::kKernelSize)
        __builtin_trap();
    if (kernel.dataBytes() < 0 || kernel.dataBytes() > tarvo::KernelFile::kBufferSize)
        __builtin_trap();
    if (kernel.usable() &&
        (state != tarvo::KernelFile::State::Ok || kernel.dataBytes() != tarvo::KernelFile::kKernelSize ||
         !kernel.problem().isEmpty()))
        __builtin_trap();
    if (!kernel.usable() && kernel.problem().isEmpty())
        __builtin_trap();
    return 0;
}

// Feeds arbitrary bytes to the "Tarvocommand.ini" reader and walks them as "Show CMD" does: the scan's
// sections, each one's probe flag and button. The file is the operator's own text, so anything may be in it.
#include "console/CommandFile.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using tarvo::CommandFile;
    const QByteArrayView bytes(reinterpret_cast<const char*>(data), qsizetype(size));
    CommandFile file;
    file.loadBytes(bytes);
    const CommandFile::Scan scan = file.scan();
    // What the panel relies on must hold for any file: sections in rising order within the slots, each
    // with a command, time limits within bounds, colours within RGB.
    if (scan.sections.size() > CommandFile::kSlots)
        __builtin_trap();
    if (scan.refusedSection != 0 && scan.refusedSection <= CommandFile::kSlots)
        __builtin_trap();
    int previous = 0;
    for (const int number : scan.sections) {
        if (number <= previous || number > CommandFile::kSlots || !file.hasCommand(number))
            __builtin_trap();
        previous = number;
        const tarvo::CommandButton button = file.button(number);
        if (button.number != number || button.timeoutMs < 1 || button.timeoutMs > CommandFile::kMaxTimeoutMs)
            __builtin_trap();
        if (button.colour && *button.colour > 0xFFFFFF)
            __builtin_trap();
        (void)file.readWhileScanning(number);
        (void)button.hint();
    }
    // The colour reader also meets whatever text a "Color" key holds.
    if (size <= 64) {
        const std::optional<tarvo::Rgb> colour = CommandFile::colourFrom(QString::fromLatin1(bytes));
        if (colour && *colour > 0xFFFFFF)
            __builtin_trap();
    }
    return 0;
}

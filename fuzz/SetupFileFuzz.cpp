// Feeds arbitrary bytes to the setup-file reader, the way an imported "*.mxr" file reaches it, for both
// parameter groups; whatever it accepts must compose back into a file that reads the same.
#include "config/SetupFile.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QByteArrayView bytes(reinterpret_cast<const char*>(data), qsizetype(size));
    for (const tarvo::SetupGroup group : {tarvo::SetupGroup::Dosing, tarvo::SetupGroup::CheckWeigher}) {
        QString error;
        const std::optional<QList<qint32>> values = tarvo::SetupFile::parse(bytes, group, &error);
        const auto entries = tarvo::SetupFile::entries(group);
        if (!values) {
            if (error.isEmpty())
                __builtin_trap();
            continue;
        }
        if (size_t(values->size()) != entries.size())
            __builtin_trap();
        QStringList texts;
        for (const qint32 v : *values)
            texts << QString::number(v);
        const std::optional<QByteArray> file = tarvo::SetupFile::compose(group, {}, texts, &error);
        if (!file)
            __builtin_trap();
        const std::optional<QList<qint32>> again = tarvo::SetupFile::parse(*file, group, &error);
        if (!again || *again != *values)
            __builtin_trap();
    }
    return 0;
}

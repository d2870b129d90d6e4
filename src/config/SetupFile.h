#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QString>
#include <QStringList>
#include <optional>
#include <span>

namespace tarvo {

// Which parameter group a setup file carries.
enum class SetupGroup { Dosing, CheckWeigher };

// One parameter of a setup file: where it stands and which page entry it belongs to.
struct SetupEntry {
    const char* section;
    const char* key;
    // The page entry's name ("PD7", "StartDelay", "Setpoint0").
    const char* parameter;
};

// What a setup file says about the device it was made from; never read back.
struct SetupHeader {
    int identity = 0;
    QString firmware;
    int baud = 0;
    int comNumber = 0;
};

// The "*.mxr" setup file: a small INI file with the header sections and one group's parameters as
// decimal integers.
class SetupFile {
public:
    // The file is a few hundred bytes; anything much larger is not one.
    static constexpr qsizetype kMaxSize = 64 * 1024;

    static std::span<const SetupEntry> entries(SetupGroup group);
    // The group's parameter names in file order.
    static QStringList parameterNames(SetupGroup group);

    // A 32-bit whole number: an optional sign and decimal digits, nothing else. Otherwise nothing, and
    // why says what is wrong ("is not a whole number", "is out of range").
    static std::optional<qint32> wholeNumber(const QString& text, QString* why = nullptr);

    // The file for the group's entry texts (in file order). Every entry is checked first: when one is
    // no whole number there is no file, and error names it.
    static std::optional<QByteArray> compose(SetupGroup group, const SetupHeader& header,
                                             const QStringList& texts, QString* error);
    // The group's values in file order; a missing key is 0. A key that is present but holds no whole
    // number makes the whole file unusable: nothing, and error names the entry.
    static std::optional<QList<qint32>> parse(QByteArrayView bytes, SetupGroup group, QString* error);
};

} // namespace tarvo

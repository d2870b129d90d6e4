#include "CommandFile.h"

#include "base/ReplacingFile.h"

#include <QStringDecoder>
#include <SimpleIni.h>
#include <algorithm>
#include <array>
#include <limits>
#include <optional>

namespace tarvo {

namespace {

QByteArray sectionName(int number) {
    return "CMD" + QByteArray::number(number);
}

// The file is the operator's own text: UTF-8 when it is valid UTF-8, else the single-byte code page such
// files were written in.
QString decoded(const char* value) {
    const QByteArrayView bytes(value);
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = utf8(bytes);
    if (utf8.hasError())
        text = QString::fromLatin1(bytes);
    return text;
}

// A whole number as the profile functions read one: optional sign, then decimal digits or "$"/"0x" hex.
std::optional<qint64> wholeNumber(const QString& raw) {
    const QString text = raw.trimmed();
    qsizetype i = 0;
    bool negative = false;
    if (i < text.size() && (text[i] == u'+' || text[i] == u'-')) {
        negative = text[i] == u'-';
        ++i;
    }
    int base = 10;
    if (text.mid(i, 1) == u"$" || text.mid(i, 1).compare(u"x", Qt::CaseInsensitive) == 0) {
        base = 16;
        i += 1;
    } else if (text.mid(i, 2).compare(u"0x", Qt::CaseInsensitive) == 0) {
        base = 16;
        i += 2;
    }
    if (i >= text.size() || text.size() - i > 10)
        return std::nullopt;
    bool ok = false;
    const qint64 magnitude = text.mid(i).toLongLong(&ok, base);
    if (!ok || magnitude < 0)
        return std::nullopt;
    return negative ? -magnitude : magnitude;
}

struct ColourName {
    const char* name;
    std::optional<Rgb> rgb;
};

// The named colours of the program's toolkit; the system colours that a button may name are shown as
// the platform's button face.
constexpr std::array<ColourName, 31> kColourNames{{
    {"clBlack", 0x000000},         {"clMaroon", 0x800000},      {"clGreen", 0x008000},
    {"clOlive", 0x808000},         {"clNavy", 0x000080},        {"clPurple", 0x800080},
    {"clTeal", 0x008080},          {"clGray", 0x808080},        {"clSilver", 0xC0C0C0},
    {"clRed", 0xFF0000},           {"clLime", 0x00FF00},        {"clYellow", 0xFFFF00},
    {"clBlue", 0x0000FF},          {"clFuchsia", 0xFF00FF},     {"clAqua", 0x00FFFF},
    {"clWhite", 0xFFFFFF},         {"clLtGray", 0xC0C0C0},      {"clDkGray", 0x808080},
    {"clMoneyGreen", 0xC0DCC0},    {"clSkyBlue", 0xA6CAF0},     {"clCream", 0xFFFBF0},
    {"clMedGray", 0xA4A0A0},       {"clBtnFace", std::nullopt}, {"clDefault", std::nullopt},
    {"clNone", std::nullopt},      {"clWindow", 0xFFFFFF},      {"clWindowText", 0x000000},
    {"clBtnText", 0x000000},       {"clInfoBk", 0xFFFFE1},      {"clHighlight", 0x0078D7},
    {"clHighlightText", 0xFFFFFF},
}};

} // namespace

// Section and key names compare without regard to case, as the profile functions do.
class CommandFile::Ini : public CSimpleIniA {};

CommandFile::CommandFile() : ini_(std::make_unique<Ini>()) {}

CommandFile::~CommandFile() = default;

bool CommandFile::load(const QString& path, QString* error) {
    ini_->Reset();
    // Read without waiting: a pipe with no writer or a terminal would hold the program for ever.
    QString reason;
    const std::optional<QByteArray> bytes = readRegularFile(path, kMaxBytes + 1, &reason);
    if (!bytes || bytes->size() > kMaxBytes) {
        if (error)
            *error = bytes ? QStringLiteral("larger than %1 bytes").arg(kMaxBytes) : reason;
        return false;
    }
    return loadBytes(*bytes);
}

bool CommandFile::loadBytes(QByteArrayView bytes) {
    ini_->Reset();
    ini_->SetUnicode(true);
    // A key given twice (a section copied and not renumbered) reads as its first, as the profile
    // functions read it: the copy must not turn a readable "IV" into an "SR" sent while scanning.
    ini_->SetMultiKey(true);
    if (bytes.size() > kMaxBytes)
        return false;
    if (ini_->LoadData(bytes.data(), static_cast<size_t>(bytes.size())) < 0) {
        ini_->Reset();
        return false;
    }
    return true;
}

CommandFile::Scan CommandFile::scan() const {
    Scan scan;
    int misses = 0;
    for (int number = 1; misses < kMissesToEnd; ++number) {
        if (!hasCommand(number)) {
            ++misses;
            continue;
        }
        misses = 0;
        if (number > kSlots) {
            scan.refusedSection = number;
            break;
        }
        scan.sections.append(number);
    }
    return scan;
}

bool CommandFile::hasCommand(int number) const {
    const char* value = ini_->GetValue(sectionName(number).constData(), "CMD", nullptr);
    return value && QByteArrayView(value) != "Error";
}

bool CommandFile::readWhileScanning(int number) const {
    return flag(number, "Read", false);
}

QString CommandFile::text(int number, const char* key, const QString& fallback) const {
    const char* value = ini_->GetValue(sectionName(number).constData(), key, nullptr);
    return value ? decoded(value) : fallback;
}

int CommandFile::integer(int number, const char* key, int fallback) const {
    const char* value = ini_->GetValue(sectionName(number).constData(), key, nullptr);
    if (!value)
        return fallback;
    const std::optional<qint64> n = wholeNumber(decoded(value));
    if (!n || *n < std::numeric_limits<int>::min() || *n > std::numeric_limits<int>::max())
        return fallback;
    return static_cast<int>(*n);
}

bool CommandFile::flag(int number, const char* key, bool fallback) const {
    return integer(number, key, fallback ? 1 : 0) != 0;
}

CommandButton CommandFile::button(int number) const {
    CommandButton b;
    b.number = number;
    b.command = text(number, "CMD", b.command);
    b.answer = text(number, "Answer", b.answer);
    b.timeoutMs = std::clamp(integer(number, "Timeout", b.timeoutMs), 1, kMaxTimeoutMs);
    b.read = flag(number, "Read", true);
    b.write = flag(number, "Write", false);
    b.colour = colourFrom(text(number, "Color", QStringLiteral("clBtnFace")));
    b.description = text(number, "Description", b.description);
    b.text = text(number, "Text", b.text);
    b.group = text(number, "Group", b.group);
    b.max = integer(number, "Max", 0);
    b.min = integer(number, "Min", 0);
    b.unit = text(number, "Unit", QString());
    b.action = text(number, "Action", b.action);
    return b;
}

std::optional<Rgb> CommandFile::colourFrom(const QString& text) {
    const QString name = text.trimmed();
    for (const ColourName& c : kColourNames)
        if (name.compare(QLatin1String(c.name), Qt::CaseInsensitive) == 0)
            return c.rgb;
    const std::optional<qint64> n = wholeNumber(name);
    // The high byte marks the system colours; those, like anything unreadable, show the button face.
    if (!n || *n < 0 || *n > 0xFFFFFF)
        return std::nullopt;
    const auto bgr = static_cast<Rgb>(*n);
    return ((bgr & 0xFF) << 16) | (bgr & 0xFF00) | ((bgr >> 16) & 0xFF);
}

} // namespace tarvo

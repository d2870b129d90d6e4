#pragma once

#include "CommandButton.h"

#include <QByteArrayView>
#include <QList>
#include <QString>
#include <memory>

namespace tarvo {

// "Tarvocommand.ini": one section per command button, CMD1, CMD2, ... Windows profile semantics: names
// are case-insensitive, a missing key or a number that does not read gives the key's default, a boolean
// is an integer other than 0. Reads any bytes without harm: a file too large or not an INI file has no
// sections.
class CommandFile {
public:
    // Section numbers 1..kSlots have a button slot.
    static constexpr int kSlots = 2000;
    // The scan ends after this many missing sections in a row.
    static constexpr int kMissesToEnd = 50;
    static constexpr qint64 kMaxBytes = 4 * 1024 * 1024;
    // A button's own time limit stays within this, so a typing error cannot hold the line for hours.
    static constexpr int kMaxTimeoutMs = 60000;

    CommandFile();
    ~CommandFile();
    CommandFile(const CommandFile&) = delete;
    CommandFile& operator=(const CommandFile&) = delete;

    // False, with the reason, when the file cannot be read; the file then has no sections.
    bool load(const QString& path, QString* error = nullptr);
    bool loadBytes(QByteArrayView bytes);

    // The sections the scan visits that carry a command, in order: from CMD1 up until kMissesToEnd
    // sections in a row are missing. A section above kSlots that the scan would reach ends it and is
    // named in refusedSection (0 when none).
    struct Scan {
        QList<int> sections;
        int refusedSection = 0;
    };
    Scan scan() const;

    // The section has a "CMD" key (a command "Error" is what a missing one reads as).
    bool hasCommand(int number) const;
    // "Read" as the scan asks it: false unless the section says otherwise.
    bool readWhileScanning(int number) const;
    // The button the section describes, with the defaults of the missing keys.
    CommandButton button(int number) const;

    // A colour as the file spells it: a name ("clRed", "clBtnFace") or a number, decimal or "$" hex, in
    // the blue-green-red order of the program's colour numbers. No value for the button face and for what
    // does not read as a colour.
    static std::optional<Rgb> colourFrom(const QString& text);

private:
    QString text(int number, const char* key, const QString& fallback) const;
    int integer(int number, const char* key, int fallback) const;
    bool flag(int number, const char* key, bool fallback) const;

    class Ini;
    std::unique_ptr<Ini> ini_;
};

} // namespace tarvo

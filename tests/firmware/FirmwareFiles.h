#pragma once

// Builders for firmware files in tests: the own format's checksum worked out bit by bit (no table), so
// the loader's table-driven code is checked against something independent, and runs of the outside
// tools that write S-records and Intel hex.

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QList>
#include <QProcess>
#include <QStandardPaths>
#include <QString>
#include <QStringList>
#include <cstdint>
#include <ostream>

#include "support/QtPrinters.h"

namespace tarvo::test {

// CRC-32 register (reflected 0xEDB88320) fed the block's first byte once per block byte, complemented.
inline std::uint32_t qmChecksum(const QByteArray& block) {
    std::uint32_t reg = 0xFFFFFFFFu;
    for (qsizetype n = 0; n < block.size(); ++n) {
        reg ^= static_cast<std::uint8_t>(block.front());
        for (int bit = 0; bit < 8; ++bit)
            reg = (reg >> 1) ^ ((reg & 1u) ? 0xEDB88320u : 0u);
    }
    return ~reg;
}

inline void putLe16(QByteArray& bytes, qsizetype at, std::uint16_t v) {
    bytes[at] = char(v & 0xFF);
    bytes[at + 1] = char(v >> 8);
}
inline void putLe32(QByteArray& bytes, qsizetype at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i)
        bytes[at + i] = char((v >> (8 * i)) & 0xFF);
}

struct OwnFile {
    QByteArray payload;
    std::uint16_t format = 1; // 1 Intel hex, 2 S-records
    QList<std::uint32_t> targets;
    QByteArray message;
    std::uint32_t version = 0x01020304;
    std::uint16_t edition = 7;

    // Laid out header, target list, message with its zero, payload; offsets and checksums filled in.
    QByteArray build() const {
        QByteArray file(32, '\0');
        file[0] = 'Q';
        file[1] = 'M';
        putLe32(file, 4, version);
        putLe16(file, 8, edition);
        putLe16(file, 16, format);
        const auto listAt = std::uint16_t(file.size());
        for (std::uint32_t t : targets) {
            QByteArray v(4, '\0');
            putLe32(v, 0, t);
            file += v;
        }
        const auto messageAt = std::uint16_t(file.size());
        file += message;
        file += '\0';
        const auto payloadAt = std::uint16_t(file.size());
        file += payload;
        putLe16(file, 18, listAt);
        putLe16(file, 20, messageAt);
        putLe16(file, 22, payloadAt);
        return seal(file);
    }

    // Recomputes both checksums after a test has changed header fields.
    static QByteArray seal(QByteArray file) {
        putLe32(file, 24, qmChecksum(file.left(24)));
        const std::uint16_t payloadAt = std::uint16_t(std::uint8_t(file[22]) | (std::uint8_t(file[23]) << 8));
        putLe32(file, 28, qmChecksum(file.mid(payloadAt)));
        return file;
    }
};

// Runs an outside tool; empty result when it is missing or fails (the caller skips or fails).
inline bool runTool(const QString& program, const QStringList& args, QString* error = nullptr) {
    if (QStandardPaths::findExecutable(program).isEmpty()) {
        if (error)
            *error = program + " not installed";
        return false;
    }
    QProcess process;
    process.start(program, args);
    const bool ok = process.waitForFinished(30000) && process.exitStatus() == QProcess::NormalExit &&
                    process.exitCode() == 0;
    if (!ok && error)
        *error = program + " failed: " + QString::fromLocal8Bit(process.readAllStandardError());
    return ok;
}

inline QByteArray readFile(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

inline bool writeFile(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

// A reproducible binary with every byte value in it.
inline QByteArray sampleBinary(int size, std::uint32_t seed = 12345) {
    QByteArray bytes(size, '\0');
    for (int i = 0; i < size; ++i) {
        seed = seed * 1103515245u + 12345u;
        bytes[i] = char((seed >> 16) & 0xFF);
    }
    return bytes;
}

// S1 records of 32 bytes each for data at address, closed by S9: a kernel file as the maker's tools
// write one.
inline QByteArray sRecords(const QByteArray& data, int address) {
    QByteArray text = "S00600004844521B\n";
    for (qsizetype at = 0; at < data.size(); at += 32) {
        const QByteArray chunk = data.mid(at, 32);
        const int a = address + int(at);
        QByteArray bytes;
        bytes.append(char(chunk.size() + 3));
        bytes.append(char((a >> 8) & 0xFF));
        bytes.append(char(a & 0xFF));
        bytes.append(chunk);
        quint8 sum = 0;
        for (const char b : bytes)
            sum = quint8(sum + quint8(b));
        bytes.append(char(~sum));
        text += "S1" + bytes.toHex().toUpper() + "\n";
    }
    return text + "S9030000FC\n";
}

} // namespace tarvo::test

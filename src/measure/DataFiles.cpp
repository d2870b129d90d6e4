#include "DataFiles.h"

#include "RecordingMemory.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QLocale>
#include <QTime>
#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <future>
#include <optional>
#include <system_error>
#include <vector>

namespace tarvo {

namespace {
constexpr qsizetype kLineEndSize = sizeof kFileLineEnd - 1;
// From this many lines a sample file's text is made on two cores, in pieces of kPieceLines.
constexpr int kParallelLines = 100000;
constexpr int kPieceLines = 16384;

// Lines are made this many at a time in the file's buffer.
constexpr int kLinesPerBlock = 512;

char* appendBytes(char* out, const QByteArray& bytes) {
    // Nearly always one character: no call to copy it.
    if (bytes.size() == 1) {
        *out = bytes.front();
        return out + 1;
    }
    std::memcpy(out, bytes.constData(), static_cast<std::size_t>(bytes.size()));
    return out + bytes.size();
}

// "00" to "99": two digits at a time.
constexpr auto kDigitPairs = [] {
    std::array<char, 200> pairs{};
    for (int i = 0; i < 100; ++i) {
        pairs[static_cast<std::size_t>(2 * i)] = static_cast<char>('0' + i / 10);
        pairs[static_cast<std::size_t>(2 * i + 1)] = static_cast<char>('0' + i % 10);
    }
    return pairs;
}();

// A file's numbers are nearly all below 10^8 (counts and milliseconds): those are written in 32-bit
// arithmetic, two digits a step, without a call; they were half of a large file's time.
char* appendInteger(char* out, long long v) {
    const unsigned long long magnitude =
        v < 0 ? 0ULL - static_cast<unsigned long long>(v) : static_cast<unsigned long long>(v);
    if (magnitude >= 100000000ULL)
        return std::to_chars(out, out + 24, v).ptr;
    if (v < 0)
        *out++ = '-';
    auto x = static_cast<std::uint32_t>(magnitude);
    const int digits = x < 10         ? 1
                       : x < 100      ? 2
                       : x < 1000     ? 3
                       : x < 10000    ? 4
                       : x < 100000   ? 5
                       : x < 1000000  ? 6
                       : x < 10000000 ? 7
                                      : 8;
    char* const end = out + digits;
    char* p = end;
    while (x >= 100) {
        const std::uint32_t pair = x % 100;
        x /= 100;
        p -= 2;
        std::memcpy(p, &kDigitPairs[2 * pair], 2);
    }
    if (x >= 10)
        std::memcpy(p - 2, &kDigitPairs[2 * x], 2);
    else
        p[-1] = static_cast<char>('0' + x);
    return end;
}

char* appendLineEnd(char* out) {
    std::memcpy(out, kFileLineEnd, kLineEndSize);
    return out + kLineEndSize;
}

// Times are written truncated toward zero; a time beyond the integer range cannot come from a recording.
long long truncated(double t) {
    return std::isfinite(t) && std::fabs(t) < 9e18 ? static_cast<long long>(t) : 0;
}
// The whole counts most recordings hold, without a call (a round trip through an integer, not the
// library's trunc); anything else through the general formatter.
inline char* appendValue(char* out, double v, char decimalPoint) {
    if (std::fabs(v) < 1e15) {
        const auto whole = static_cast<long long>(v);
        if (static_cast<double>(whole) == v && !(v == 0 && std::signbit(v)))
            return appendInteger(out, whole);
    }
    return DataFiles::formatValue(out, v, decimalPoint);
}
} // namespace

// ---- Number texts -------------------------------------------------------------------------------

char* DataFiles::formatValue(char* out, double v, char decimalPoint) {
    // Recorded values are mostly whole counts: those are written as integers without the general
    // formatter, which is what keeps a 500,000-line file quick.
    if (v == std::trunc(v) && std::fabs(v) < 1e15) {
        if (v == 0 && std::signbit(v)) {
            *out++ = '-';
            *out++ = '0';
            return out;
        }
        return appendInteger(out, static_cast<long long>(v));
    }
    // %.15g: general format, up to 15 significant digits.
    char* end = std::to_chars(out, out + 32, v, std::chars_format::general, 15).ptr;
    if (decimalPoint != '.')
        for (char* p = out; p != end; ++p)
            if (*p == '.') {
                *p = decimalPoint;
                break;
            }
    return end;
}

char DataFiles::localeDecimalPoint() {
    // The default locale is the system's; tests may set another.
    const QString point = QLocale().decimalPoint();
    return point.size() == 1 && point.at(0).unicode() < 0x80 ? static_cast<char>(point.at(0).unicode()) : '.';
}

QString DataFiles::valueText(double value) {
    char text[40];
    char* end = formatValue(text, value, localeDecimalPoint());
    return QString::fromLatin1(text, end - text);
}

// ---- Options ------------------------------------------------------------------------------------

DataFiles::DataFiles(Operator& op, RecordingMemory& memory, QObject* parent)
    : QObject(parent), op_(op), memory_(memory) {}

DataFiles::~DataFiles() = default;

void DataFiles::setSeparatorChoice(Separator choice) {
    choice_ = choice;
    if (choice == Separator::Comma)
        separator_ = QStringLiteral(",");
    else if (choice == Separator::Semicolon)
        separator_ = QStringLiteral(";");
    emit changed();
}

void DataFiles::separatorEdited(const QString& text) {
    if (separatorLocked())
        return;
    separator_ = text;
    emit changed();
}

void DataFiles::restoreSeparator(const QString& text) {
    if (text == QLatin1String(","))
        choice_ = Separator::Comma;
    else if (text == QLatin1String(";"))
        choice_ = Separator::Semicolon;
    else
        choice_ = Separator::Other;
    separator_ = text;
    emit changed();
}

void DataFiles::setLogDosingData(bool on) {
    if (logDosingData_ == on)
        return;
    logDosingData_ = on;
    emit changed();
}

void DataFiles::setLogGetDosed(bool on) {
    logGetDosed_ = on;
    if (!on)
        closeGetDosedLog();
    emit changed();
}

void DataFiles::setLogAverageData(int box, bool on) {
    logAverage_[box & 1] = on;
    emit changed();
}

// ---- Graph and dosing data files ------------------------------------------------------------------

void DataFiles::saveCsvClicked(int slot, bool gross) {
    if (logDosingData_)
        saveDosingData(slot);
    else
        saveGraphData(slot, gross);
}

bool DataFiles::saveGraphData(int slot, bool gross) {
    const QString path =
        op_.askSaveFileName(QString::fromLatin1(kCsvSuffix), QString::fromLatin1(kCsvFilter));
    if (path.isEmpty())
        return false;
    return writeGraphData(path, slot, gross);
}

bool DataFiles::saveDosingData(int slot) {
    if (!memory_.slot(slot).recorded) {
        op_.showMessage(QString::fromLatin1(kNeverDrawn));
        return false;
    }
    const QString path =
        op_.askSaveFileName(QString::fromLatin1(kCsvSuffix), QString::fromLatin1(kCsvFilter));
    if (path.isEmpty())
        return false;
    return writeDosingData(path, slot);
}

bool DataFiles::writeGraphData(const QString& path, int slot, bool gross) {
    return writeSampleFile(path, slot, gross, false, false);
}

bool DataFiles::writeDosingData(const QString& path, int slot) {
    return writeSampleFile(path, slot, false, true, true);
}

bool DataFiles::writeSampleFile(const QString& path, int slot, bool gross, bool dosing,
                                bool requireRecorded) {
    const GraphSlot& s = memory_.slot(slot);
    if (requireRecorded && !s.recorded) {
        op_.showMessage(QString::fromLatin1(kNeverDrawn));
        return false;
    }
    ReplacingFile file(path);
    if (!file.open()) {
        op_.showMessage(cannotWriteText(kCannotWrite, path, file.errorString()));
        return false;
    }
    const QByteArray sep = sampleFileSeparator();
    file.write(graphName_.toLocal8Bit());
    file.write(kFileLineEnd, kLineEndSize);
    file.write(dosing ? "DoseData" : "GraphData", dosing ? 8 : 9);
    file.write(sep);
    file.write("Milliseconds", 12);
    file.write(kFileLineEnd, kLineEndSize);
    bool complete = true;
    if (!s.recorded) {
        // The file keeps its two lines.
        op_.showMessage(QString::fromLatin1(kNotRecorded));
        complete = false;
    } else {
        const char point = localeDecimalPoint();
        const qsizetype lineMax = 2 * 40 + sep.size() + kLineEndSize;
        const SampleRecord* r = s.records;
        // The slot's own sample count: a dosing capture fills the records of every slot, and STOP
        // clears the running sample index.
        const int n = std::min(s.count, kMaxSamples);
        auto formatLine = [&](char* p, int i) {
            // The records are read one after the other, 40 bytes apart: asking for those a few lines on
            // early halves a large file's time where the processor would wait for each.
            __builtin_prefetch(r + i + 16);
            if (!dosing) {
                p = appendValue(p, gross ? r[i].gross : r[i].net, point);
                p = appendBytes(p, sep);
                p = appendInteger(p, truncated(r[i].time));
            } else if (slot == 1) {
                p = appendValue(p, r[i].net, point);
                p = appendBytes(p, sep);
                p = appendValue(p, r[i].time, point);
            } else {
                // Slots 2..5 keep the numbers the scope draws in their value array.
                p = appendValue(p, s.values ? s.values[i] : r[i].net, point);
                p = appendBytes(p, sep);
                p = appendInteger(p, truncated(i * s.meanStep));
            }
            return appendLineEnd(p);
        };
        // Lines made here go straight into the file's buffer.
        auto writeLines = [&](int first, int last) {
            for (int i = first; i <= last && !file.failed();) {
                const int blockLast = std::min(last, i + kLinesPerBlock - 1);
                char* p = file.reserve(lineMax * (blockLast - i + 1));
                for (; i <= blockLast; ++i)
                    p = formatLine(p, i);
                file.commitBytes(p);
            }
        };
        // A long recording is made into text in pieces, here and on a second core, and each piece goes
        // to the file as soon as it and those before it are made: the numbers' text is most of a large
        // file's cost, and so the disk writes the first pieces while the last are being made. The pieces
        // are taken in order by whichever core comes to them first; this one, which also hands every
        // piece to the file, makes the next piece itself when the other has not begun it, so a second
        // core that is slow or busy elsewhere never holds the file up. Nothing else touches the recording
        // while the file is written.
        const int pieces = n >= kParallelLines ? (n + kPieceLines - 1) / kPieceLines : 1;
        auto firstLine = [](int k) { return k * kPieceLines + 1; };
        auto lastLine = [n](int k) { return std::min(n, (k + 1) * kPieceLines); };
        // A piece made into text off the file's buffer, by either core.
        auto pieceText = [&](int k) {
            QByteArray text(qsizetype(lastLine(k) - firstLine(k) + 1) * lineMax, Qt::Uninitialized);
            char* p = text.data();
            for (int i = firstLine(k); i <= lastLine(k); ++i)
                p = formatLine(p, i);
            text.truncate(p - text.constData());
            return text;
        };
        const auto count = static_cast<std::size_t>(pieces > 1 ? pieces : 0);
        std::atomic<int> untaken{0}; // the first piece neither core has begun
        // A piece made there, or nothing where there was no memory for it (then it is made here).
        std::vector<std::promise<std::optional<QByteArray>>> madeThere(count);
        std::vector<std::future<std::optional<QByteArray>>> fromThere;
        for (auto& piece : madeThere)
            fromThere.push_back(piece.get_future());
        std::atomic<bool> abandoned{false};
        std::future<void> helper;
        if (count > 0) {
            try {
                helper = std::async(std::launch::async, [&] {
                    for (int k = untaken.fetch_add(1); k < pieces; k = untaken.fetch_add(1)) {
                        std::optional<QByteArray> text;
                        try {
                            text = abandoned ? QByteArray() : pieceText(k);
                        } catch (const std::bad_alloc&) {
                            // This piece and the rest are left to the other core.
                            madeThere[static_cast<std::size_t>(k)].set_value(std::nullopt);
                            return;
                        }
                        madeThere[static_cast<std::size_t>(k)].set_value(std::move(text));
                    }
                });
            } catch (const std::system_error&) {
                fromThere.clear(); // no thread to be had: all of it here
            }
        }
        if (fromThere.empty()) {
            writeLines(1, n);
        } else {
            auto take = [&untaken, pieces](int k) {
                int next = k;
                return k < pieces && untaken.compare_exchange_strong(next, k + 1);
            };
            // Pieces taken here ahead of their turn while the other core was still at an earlier one,
            // and their text where there was memory for it (else they are made at their turn).
            std::vector<char> takenAhead(count);
            std::vector<std::optional<QByteArray>> madeAhead(count);
            bool roomAhead = true;
            for (int k = 0; k < pieces && !file.failed(); ++k) {
                const auto at = static_cast<std::size_t>(k);
                std::optional<QByteArray> text;
                if (takenAhead[at]) {
                    text = std::move(madeAhead[at]);
                } else if (!take(k)) {
                    // Begun there: rather than only wait for it, make the next piece nobody has begun.
                    std::future<std::optional<QByteArray>>& there = fromThere[at];
                    while (there.wait_for(std::chrono::seconds(0)) != std::future_status::ready) {
                        const int j = untaken.load();
                        if (!roomAhead || j >= pieces) {
                            there.wait();
                            break;
                        }
                        if (!take(j))
                            continue;
                        takenAhead[static_cast<std::size_t>(j)] = 1;
                        try {
                            madeAhead[static_cast<std::size_t>(j)] = pieceText(j);
                        } catch (const std::bad_alloc&) {
                            roomAhead = false;
                        }
                    }
                    text = there.get();
                }
                if (text)
                    file.write(*text);
                else
                    writeLines(firstLine(k), lastLine(k));
            }
            // A write that failed leaves the rest unmade.
            abandoned = true;
        }
    }
    if (!file.commit()) {
        op_.showMessage(cannotWriteText(kCannotWrite, path, file.errorString()), QString(),
                        MessageIcon::Error);
        return false;
    }
    return complete;
}

QByteArray DataFiles::sampleFileSeparator() {
    const QByteArray chosen = separator_.toLocal8Bit();
    const char point = localeDecimalPoint();
    if (chosen.size() != 1 || chosen.front() != point)
        return chosen;
    // "1,5" and "," in one line cannot be read back: the locale keeps its decimal separator, and the
    // file takes the list separator that spreadsheets of such locales expect.
    const QByteArray used = point == ';' ? "," : ";";
    if (!separatorNoticeGiven_) {
        separatorNoticeGiven_ = true;
        op_.showInfoMessage(
            QStringLiteral("File separator \"%1\" is the decimal separator here: \"%2\" used instead")
                .arg(QString::fromLocal8Bit(chosen), QString::fromLatin1(used)));
    }
    return used;
}

// ---- TRIGGER logs ----------------------------------------------------------------------------------

std::unique_ptr<QFile> DataFiles::openLog(bool& option1, bool* option2, const char* header) {
    const QString path =
        op_.askSaveFileName(QString::fromLatin1(kCsvSuffix), QString::fromLatin1(kCsvFilter));
    if (path.isEmpty())
        return nullptr;
    auto file = std::make_unique<QFile>(path);
    // A log grows line by line, so it is written in place; but never into a device, a pipe (whose open
    // would wait for a reader for ever) or a folder.
    QString refused = ReplacingFile::checkTarget(path);
    if (!refused.isEmpty() || !file->open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Text)) {
        if (refused.isEmpty())
            refused = file->errorString();
        // Creating the file raised an error (typically another program holds it), then it failed.
        op_.showMessage(QString::fromLatin1(kFileInUse));
        op_.showMessage(cannotWriteText(kCannotWrite, path, refused));
        option1 = false;
        if (option2)
            *option2 = false;
        emit changed();
        return nullptr;
    }
    const QByteArray sep = separator_.toLocal8Bit();
    QByteArray line(header);
    line.replace('|', sep);
    if (!logLineWritten(*file, line + '\n', option1, option2))
        return nullptr;
    return file;
}

bool DataFiles::logLineWritten(QFile& file, const QByteArray& line, bool& option1, bool* option2) {
    errno = 0;
    if (file.write(line) == line.size() && file.flush())
        return true;
    // A full disk would swallow every further line without a word: the operator hears the system's
    // reason once, and the log ends as one that could not be created does. QFile's own text for a
    // failed flush is "Unknown error"; the failed write left the real one in errno.
    const int error = errno;
    op_.showMessage(error != 0 ? qt_error_string(error) : file.errorString(), QString(), MessageIcon::Error);
    option1 = false;
    if (option2)
        *option2 = false;
    emit changed();
    return false;
}

void DataFiles::openTriggerLogs() {
    if (logGetDosed_ && !getDosed_)
        getDosed_ = openLog(logGetDosed_, nullptr, "GetDosed|TimeStamp|PD2|PD16");
    if (logAverage_[0] || logAverage_[1]) {
        // An average log still open from an earlier TRIGGER is closed first, so it is never left
        // dangling without a handle.
        closeAverageLog();
        average_ = openLog(logAverage_[0], &logAverage_[1], "AverageData|TimeStamp");
    }
}

QString DataFiles::averageLogPath() const {
    return average_ ? average_->fileName() : QString();
}

void DataFiles::closeAverageLog() {
    average_.reset();
}

void DataFiles::closeGetDosedLog() {
    getDosed_.reset();
}

bool DataFiles::openAverageLogAt(const QString& path, const QString& header, QString* reason) {
    closeAverageLog();
    auto file = std::make_unique<QFile>(path);
    // Never into a device, a pipe (whose open would wait for a reader for ever) or a folder.
    QString refused = ReplacingFile::checkTarget(path);
    if (!refused.isEmpty() || !file->open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Text)) {
        *reason = refused.isEmpty() ? file->errorString() : refused;
        return false;
    }
    errno = 0;
    const QByteArray line = header.toLocal8Bit() + '\n';
    if (file->write(line) != line.size() || !file->flush()) {
        *reason = errno != 0 ? qt_error_string(errno) : file->errorString();
        return false;
    }
    average_ = std::move(file);
    return true;
}

void DataFiles::appendAverageLine(const QString& valueText) {
    if (!average_)
        return;
    const QString line =
        valueText + separator_ + QLocale().toString(QTime::currentTime(), QLocale::LongFormat);
    if (!logLineWritten(*average_, line.toLocal8Bit() + '\n', logAverage_[0], &logAverage_[1]))
        closeAverageLog();
}

} // namespace tarvo

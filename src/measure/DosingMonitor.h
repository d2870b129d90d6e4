#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <array>
#include <functional>

namespace tarvo {

class CommandLink;
class DataFiles;

// The result of each filling or weighing cycle: the one-shot average ("GA") and dosed-value ("GD")
// reads that briefly interrupt the stream, the value display decoder that handles their replies, the
// ring of the last 100 values and the "Data" list built from it.
class DosingMonitor : public QObject {
    Q_OBJECT
public:
    static constexpr int kRingSize = 100;
    static constexpr int kHintEntries = 20;
    // How long a one-shot read keeps its start string for the reply before the stream is resumed.
    static constexpr int kReplyLimitMs = 500;
    static constexpr const char* kValueDisplayHint = "1233";

    DosingMonitor(CommandLink& comm, DataFiles& files, QObject* parent = nullptr);

    // Whether the average acquisition loop runs ("Start Get Average" pressed); it keeps the stream
    // stopped itself.
    std::function<bool()> averageAcquisitionRunning;

    // GA timer (100 ms, once) and GD timer (2000 ms, once).
    void readAverage();
    void readDosedValue();
    // "A+" and "D+" packets from the stream dispatcher.
    void valueDisplayPacket(QByteArrayView startString, QByteArrayView text);

    const QByteArray& rememberedStart() const { return remembered_; }
    bool awaitingReply() const { return guard_.isActive(); }

    // The value display and its mirror show the same text.
    const QString& valueDisplayText() const { return display_; }
    // The "Data" list: 100 lines "k: entry", newest first.
    QStringList dataLines() const;
    // The value display's hint: the 20 newest entries, "k:entry " each.
    QString valueDisplayHint() const;
    int writePosition() const { return writePos_; }
    // The next value goes to the ring's first slot (a new averaging run starts there).
    void resetWritePosition() { writePos_ = 1; }
    // A result taken elsewhere (the 43xx average poll): into the ring, and the "Data" list rebuilt.
    void keepValue(const QString& value);

    // "Show Last Average" (and "Show last 100 dosed values", which follows it) shows the "Data" window.
    bool showLastAverage() const { return showLastAverage_; }
    void setShowLastAverage(bool on);
    // The window was hidden by other means: the option follows.
    void dataWindowHidden() { setShowLastAverage(false); }

signals:
    void valueDisplayChanged(const QString& text);
    // The big display window repeats the value.
    void bigDisplayText(const QString& text);
    void dataListChanged();
    void showLastAverageChanged(bool on);

private:
    void beginOneShot(const QByteArray& start);
    void resumeStream();
    void restoreAndResume();
    const QString& entry(int position) const { return ring_[static_cast<std::size_t>(position - 1)]; }

    CommandLink& link_;
    DataFiles& files_;
    QByteArray remembered_;
    QTimer guard_;
    QString display_;
    std::array<QString, kRingSize> ring_{};
    int writePos_ = 1;
    bool showLastAverage_ = false;
};

} // namespace tarvo

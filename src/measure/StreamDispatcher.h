#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QObject>
#include <functional>
#include <optional>

namespace tarvo {

class Acquisition;
class CommandLink;
class GraphModel;
class LiveReadout;
class Operator;
class RecordingMemory;
struct SampleRecord;
struct StatusPacket;

// Every line the device streams while the Display page is active comes here, from the stream matcher on
// the serial link or from the CAN bridge. Chooses the decoder from the stream matcher's start string, the
// device identity and the run button that is down; the decoders fill the recording buffers and drive the
// trigger state machine. Works on bytes and allocates nothing per line.
class StreamDispatcher : public QObject {
    Q_OBJECT
public:
    static constexpr const char* kOverRangeText = "ooooooo";
    static constexpr const char* kUnderRangeText = "uuuuuuu";

    StreamDispatcher(CommandLink& comm, Operator& op, LiveReadout& readout, RecordingMemory& memory,
                     GraphModel& graph, Acquisition& acquisition, std::function<int()> deviceIdentity,
                     QObject* parent = nullptr);

    void dispatch(QByteArrayView text);
    // Raw average recording: every value line that is recorded also goes here while a sink is set.
    void setRawValueSink(std::function<void(QByteArrayView)> sink) { rawValueSink_ = std::move(sink); }

    // The first character of the last text received (for the value display's checks).
    char firstLetter() const { return firstLetter_; }
    // The state of the last status packet a decoder handled (0 at start).
    int previousState() const;

    // Marker names the RUN decoders draw, by state.
    static const char* checkWeigherStateName(int state);
    static const char* dosingStateName(int state);

signals:
    // One-shot average ("A+") and dosed-value ("D+") replies, for the value display.
    void valueDisplayPacket(QByteArrayView startString, QByteArrayView text);
    // A line of a settings image (start string ":").
    void settingsImageLine(QByteArrayView text);

private:
    struct ValueScan {
        bool decimal = false;         // the whole text is a decimal number (the readout shows it)
        std::optional<double> counts; // the value as recorded
    };
    static ValueScan scanValue(QByteArrayView text);
    static ValueScan scanLongValue(const char* digits, const char* end, bool negative);
    QByteArrayView withoutCanLetters(QByteArrayView text);
    bool streamLineTaken(bool overRange, bool underRange);
    void valueLine(QByteArrayView text, char kind);
    void statusLine(QByteArrayView text);
    void replyLine(const QByteArray& startString, QByteArrayView text);
    void asciiRun(std::optional<double> counts);
    void asciiTrigger(std::optional<double> counts);
    void checkWeigherRun(const StatusPacket& p);
    void dosingRun(const StatusPacket& p, bool loss);

    CommandLink& link_;
    Operator& op_;
    LiveReadout& readout_;
    RecordingMemory& memory_;
    GraphModel& graph_;
    Acquisition& acq_;
    std::function<int()> deviceIdentity_;
    QByteArray canText_;
    std::function<void(QByteArrayView)> rawValueSink_;
    char firstLetter_ = 0;
};

} // namespace tarvo

#pragma once

#include "ConfigHooks.h"
#include "ParameterFields.h"
#include "base/Operator.h"

#include <QObject>
#include <QString>

namespace tarvo {

class CommandLink;
class Operator;

// The "Check-Weigher" groups of the MXR 41xx and TCW 43xx pages: read every parameter into its field,
// write every field back one command each (stopping at the first the device refuses), then store.
// The texts go to the device as typed; the device decides what it accepts.
class CheckWeigherParameters : public QObject {
    Q_OBJECT
public:
    enum class Edge { None, Trailing, Leading };
    static constexpr const char* kReading = "Reading Check-Weigher parameters....";
    static constexpr const char* kNotStored = "Communication error... Check-Weigher parameters NOT saved!";
    static constexpr const char* kSetpointsNotStored = "Communication error... Setpoints NOT saved!";
    static constexpr const char* kSaved = "Parameters saved successfully!";
    static constexpr const char* kTcwSaved = "Check-Weigher parameters saved successfully!";

    CheckWeigherParameters(CommandLink& link, Operator& op, ConfigHooks hooks, QObject* parent = nullptr);

    // The refusal text for a parameter name.
    static QString invalidValueText(const QString& name);

    ParameterFields& mxr41() { return mxr41_; }
    ParameterFields& tcw43() { return tcw43_; }
    Edge edge() const { return edge_; }
    void edgeClicked(Edge edge);
    // True once the device acknowledged the store of the last write.
    bool saved() const { return saved_; }
    // The 41xx write's set-points were stored too ("SS" acknowledged), which saved() does not wait for.
    bool setpointsSaved() const { return setpointsSaved_; }
    // The last 41xx read had an answer for everything a write sends back, the trigger edge included
    // (without it the edge shown is a guess).
    bool readComplete() const { return readComplete_; }
    // The "TCW Configuration" box.
    const QString& configurationText() const { return configuration_; }

    // "Read Cmd." / "Write Cmd." of the 41xx page; "Read Check-Weigher Cmd." / "Write Check-Weigher
    // Cmd." and "Refresh" of the 43xx page.
    void readMxr41Clicked();
    void writeMxr41Clicked();
    void readTcw43Clicked();
    void writeTcw43Clicked();
    void refreshClicked();

    // Leaving a page gives its fields back to the operator.
    void mxr41PageHidden();
    void tcw43PageHidden();

signals:
    void changed();

private:
    bool writeField(const ParameterFields& fields, int index, bool live);
    // A refusal: the info line and a box with the same text, then the page selector is free again.
    void refuse(Page page, const QString& text);

    CommandLink& link_;
    Operator& op_;
    ConfigHooks hooks_;
    ParameterFields mxr41_;
    ParameterFields tcw43_;
    Edge edge_ = Edge::None;
    bool saved_ = false;
    bool setpointsSaved_ = false;
    bool readComplete_ = false;
    QString configuration_;
};

} // namespace tarvo

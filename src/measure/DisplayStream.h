#pragma once

#include "MeasureHooks.h"

#include <QObject>
#include <QString>

namespace tarvo {

class Acquisition;
class CommandLink;
class LiveReadout;
class Operator;

// The Display page's stream: what showing and leaving the page does (the first device contact at
// start), "Start autotransmit", and a change of the autotransmit selection.
class DisplayStream : public QObject {
    Q_OBJECT
public:
    DisplayStream(CommandLink& link, Operator& op, LiveReadout& readout, Acquisition& acquisition,
                  MeasureHooks hooks, QObject* parent = nullptr);

    void displayPageShown();
    // Leaving the page stops the recording as STOP does.
    void displayPageHidden();
    void startAutotransmitClicked();
    // A change of the autotransmit selection by the operator (or a read-back): runs only on a change.
    void setAutotransmit(const QString& selection);

private:
    CommandLink& link_;
    Operator& op_;
    LiveReadout& readout_;
    Acquisition& acquisition_;
    MeasureHooks hooks_;
};

} // namespace tarvo

#include "DisplayStream.h"

#include "Acquisition.h"
#include "FullDuplexCheck.h"
#include "LiveReadout.h"
#include "base/EventWait.h"
#include "base/Operator.h"
#include "link/CommandLink.h"
#include "link/SerialPort.h"

namespace tarvo {

DisplayStream::DisplayStream(CommandLink& link, Operator& op, LiveReadout& readout, Acquisition& acquisition,
                             MeasureHooks hooks, QObject* parent)
    : QObject(parent), link_(link), op_(op), readout_(readout), acquisition_(acquisition),
      hooks_(std::move(hooks)) {}

void DisplayStream::displayPageShown() {
    if (hooks_.setPageControlEnabled)
        hooks_.setPageControlEnabled(false);
    op_.showInfoMessage(QString());
    readout_.setText(QString());
    PacketMatcher& stream = link_.streamMatcher();
    stream.setEnabled(true);
    stream.setAutoEnable(true);
    if (hooks_.canProcessChannel)
        hooks_.canProcessChannel(true);
    if (hooks_.anySerialPort && !hooks_.anySerialPort()) {
        if (hooks_.noSerialPort)
            hooks_.noSerialPort();
        return;
    }
    stream.disarm();
    stream.setStartString(readout_.streamStart());
    stream.setEndString("\r");
    stream.setEndConditions(PacketMatcher::EndString);
    stream.setIncludeStrings(false);
    stream.arm();
    // With "SN" selected this simply runs into its time limit; the stream itself goes to streamMatcher.
    link_.sendAndReceive(link_.port().portNumber(), readout_.streamCommand(), 100,
                         Framing::startingWith("G"));
    waitMs(500, false);
    if (hooks_.setPageControlEnabled)
        hooks_.setPageControlEnabled(true);
}

void DisplayStream::displayPageHidden() {
    if (hooks_.closeAverageLog)
        hooks_.closeAverageLog();
    acquisition_.displayPageLeft();
    // STOP has started the gross stream: the matcher frames what the device now sends. A net readout
    // cannot follow it and says so rather than keep a stale weight.
    link_.streamMatcher().setStartString("G");
    if (!readout_.grossSelected())
        readout_.showWord(LiveReadout::kNoInput);
    if (hooks_.canProcessChannel)
        hooks_.canProcessChannel(false);
}

void DisplayStream::startAutotransmitClicked() {
    if (acquisition_.buttonGroupLocked())
        return; // it would take the recording's stream
    if (!FullDuplexCheck::run(link_, op_, FullDuplexCheck::Caller::Autotransmit))
        return;
    link_.sendAndReceive(link_.port().portNumber(), readout_.streamCommand(), 100,
                         Framing::startingWith(readout_.streamStart()));
    // The readout follows the stream just started (after STOP the matcher frames the gross one).
    link_.streamMatcher().setStartString(readout_.streamStart());
}

void DisplayStream::setAutotransmit(const QString& selection) {
    if (selection == readout_.autotransmit())
        return;
    readout_.restoreAutotransmit(selection); // the caption follows the selection
    link_.streamMatcher().setStartString(readout_.streamStart());
    link_.writeRaw("\r");
    link_.writeRaw(readout_.streamCommand());
    waitMs(300);
}

} // namespace tarvo

#pragma once

#include <QtGlobal>
#include <functional>

namespace tarvo {
class TerminationSignals;
}

namespace tarvo::cli {

class CliSession;

// What one recording into a graph slot came to.
struct SlotRecording {
    int exitStatus = 0; // not 0: the recording could not start or took nothing; the reason is on stderr
    int count = 0;      // samples the slot holds
    bool portLost = false;
};

// Finds the device as "Find Device" does, then records into the slot with RUN (or TRIGGER) for
// durationMs, printing the sample count on stderr every second, and stops as STOP does. An interrupt or
// a lost port ends it early with what it took. name: the subcommand, for the messages. comPort 1..8:
// the device is looked for on that COM port only; 0: as the settings say.
SlotRecording recordIntoSlot(CliSession& session, TerminationSignals& interrupt, const char* name, int slot,
                             qint64 durationMs, bool trigger, int comPort = 0);

} // namespace tarvo::cli

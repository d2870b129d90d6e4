#pragma once

#include <QString>

namespace tarvo {

class CommandLink;
class Operator;

// Streaming needs the device in full-duplex mode. Asks "DX"; when the answer is not "001" offers to set
// it up ("DX1", then "WP"). Returns false when the calling operation must be abandoned.
class FullDuplexCheck {
public:
    // TRIGGER tolerates a wrong "WP" reply and abandons only when that exchange timed out.
    enum class Caller { Autotransmit, Run, Trigger };

    static constexpr const char* kAutotransmitFailure = "MXR setup NOT complete - Communikation error!";
    static constexpr const char* kRunFailure = "Device setup NOT complete - Communikation error!";
    static constexpr const char* kTriggerFailure = "Setup NOT complete - Communikation error!";
    static constexpr const char* kQuestion =
        "Device is not setup for full-duplex... Want to setup full-duplex?";
    static constexpr const char* kDx1Failure = "Full-duplex setup NOT complete - Communikation error!";

    static bool run(CommandLink& comm, Operator& op, Caller caller);
};

} // namespace tarvo

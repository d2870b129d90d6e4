#pragma once

#include <functional>

namespace tarvo {

// What the measuring side needs from the rest of the program (discovery, page control, CAN bridge,
// logs). The controller fills these in; measure/ never includes those layers. Unset hooks do nothing.
struct MeasureHooks {
    // Identify the device (Find Device); afterwards deviceIdentity() holds the number.
    std::function<void()> findDevice;
    // The device identity number (9999 while a search found nothing, 0 for no usable device).
    std::function<int()> deviceIdentity;
    std::function<void(bool)> setPageControlEnabled;
    // Whether any serial port could be opened at start, and what to do when none could.
    std::function<bool()> anySerialPort;
    std::function<void()> noSerialPort;
    // Start (true) or stop (false) the CAN bridge's process channel.
    std::function<void(bool)> canProcessChannel;
    // The logs TRIGGER opens (GetDosed, average) and the average log that leaving the page closes.
    std::function<void()> openTriggerLogs;
    std::function<void()> closeAverageLog;
};

} // namespace tarvo

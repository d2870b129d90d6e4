#pragma once

#include <QString>
#include <functional>

namespace tarvo {

// What the configuration pages need from the rest of the program (identification, page control, the
// port in use). The controller fills these in; config/ never includes those layers. Unset hooks do
// nothing and answer 0 or empty.
struct ConfigHooks {
    // The device identity number that identification stored.
    std::function<int()> deviceIdentity;
    std::function<QString()> firmwareVersion;
    std::function<void(bool)> setPageControlEnabled;
    // The serial port's rate and COM number, written into the header of a setup file.
    std::function<int()> portBaud;
    std::function<int()> comNumber;

    int identity() const { return deviceIdentity ? deviceIdentity() : 0; }
    void pageControl(bool enabled) const {
        if (setPageControlEnabled)
            setPageControlEnabled(enabled);
    }
};

} // namespace tarvo

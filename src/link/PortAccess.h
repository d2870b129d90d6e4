#pragma once

#include <QString>

namespace tarvo {

// Why a serial port that exists could not be opened, in words a technician can act on. A port the
// user may not open looks like an absent one to Qt; saying it is a matter of group membership saves
// a search for a broken adapter.
class PortAccess {
public:
    static constexpr const char* kPermissionDenied =
        "permission denied: add your user to the dialout group and log in again";

    // Another program has the port open (its lock, or the port's exclusive use): said with the
    // system's own words after it.
    static constexpr const char* kInUse = "in use by another program";
    static QString inUseText(const QString& detail);

    // True when the device file exists but this process may not read and write it.
    static bool isPermissionDenied(const QString& devicePath);
    // "COMn not available", with the reason added when it is one the operator can mend (access rights,
    // another program holding the port).
    static QString notAvailableText(int portNumber, const QString& reason);
};

} // namespace tarvo

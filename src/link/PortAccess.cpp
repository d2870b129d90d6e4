#include "PortAccess.h"

#include <QFile>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <fcntl.h>
#include <unistd.h>
#endif

namespace tarvo {

bool PortAccess::isPermissionDenied(const QString& devicePath) {
#ifdef Q_OS_UNIX
    // Asked of the file, not by opening it: opening a real serial port raises its modem lines.
    // AT_EACCESS checks with the effective ids, the ones an open would use.
    const QByteArray path = QFile::encodeName(devicePath);
    if (path.isEmpty() || ::access(path.constData(), F_OK) != 0)
        return false;
    return ::faccessat(AT_FDCWD, path.constData(), R_OK | W_OK, AT_EACCESS) != 0 &&
           (errno == EACCES || errno == EPERM);
#else
    Q_UNUSED(devicePath);
    return false;
#endif
}

QString PortAccess::inUseText(const QString& detail) {
    return detail.isEmpty() ? QString::fromLatin1(kInUse)
                            : QStringLiteral("%1 (%2)").arg(QLatin1String(kInUse), detail);
}

QString PortAccess::notAvailableText(int portNumber, const QString& reason) {
    const QString text = QStringLiteral("COM%1 not available").arg(portNumber);
    if (reason == QLatin1String(kPermissionDenied) || reason.startsWith(QLatin1String(kInUse)))
        return text + QStringLiteral(": ") + reason;
    return text;
}

} // namespace tarvo

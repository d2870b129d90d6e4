#include "PtyLine.h"

#include "Line.h"

#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

namespace devsim {

namespace {

// Bytes kept for a host that does not read; beyond this the oldest are dropped, as a full UART would.
constexpr qsizetype outgoingLimit = 64 * 1024;

int baudFromSpeed(speed_t speed) {
    switch (speed) {
    case B1200:
        return 1200;
    case B2400:
        return 2400;
    case B4800:
        return 4800;
    case B9600:
        return 9600;
    case B19200:
        return 19200;
    case B38400:
        return 38400;
    case B57600:
        return 57600;
    case B115200:
        return 115200;
    case B230400:
        return 230400;
    default:
        return 0;
    }
}

QString errnoText(const char* what) {
    return QStringLiteral("%1: %2").arg(what, QString::fromLocal8Bit(strerror(errno)));
}

} // namespace

PtyLine::PtyLine(Line* line, QObject* parent) : QObject(parent), line_(line) {}

PtyLine::~PtyLine() {
    readNotifier_.reset();
    writeNotifier_.reset();
    for (const QString& link : std::as_const(links_))
        if (QFileInfo(link).isSymLink())
            QFile::remove(link);
    if (master_ >= 0)
        ::close(master_);
    if (slave_ >= 0)
        ::close(slave_);
    if (line_)
        line_->setHostBaudSource({});
}

bool PtyLine::open(QString* error) {
    if (isOpen())
        return true;
    char name[256] = {};
    if (::openpty(&master_, &slave_, name, nullptr, nullptr) != 0) {
        if (error)
            *error = errnoText("openpty");
        master_ = slave_ = -1;
        return false;
    }
    termios tio{};
    if (::tcgetattr(slave_, &tio) == 0) {
        ::cfmakeraw(&tio);
        ::cfsetispeed(&tio, B9600);
        ::cfsetospeed(&tio, B9600);
        ::tcsetattr(slave_, TCSANOW, &tio);
    }
    ::fcntl(master_, F_SETFL, ::fcntl(master_, F_GETFL) | O_NONBLOCK);
    ::fcntl(master_, F_SETFD, FD_CLOEXEC);
    ::fcntl(slave_, F_SETFD, FD_CLOEXEC);
    slavePath_ = QString::fromLocal8Bit(name);

    readNotifier_ = std::make_unique<QSocketNotifier>(master_, QSocketNotifier::Read);
    connect(readNotifier_.get(), &QSocketNotifier::activated, this, &PtyLine::readMaster);
    writeNotifier_ = std::make_unique<QSocketNotifier>(master_, QSocketNotifier::Write);
    writeNotifier_->setEnabled(false);
    connect(writeNotifier_.get(), &QSocketNotifier::activated, this, &PtyLine::writeMaster);
    if (line_) {
        line_->setHostBaudSource([this] { return hostBaud(); });
        connect(line_, &Line::toHost, this, &PtyLine::fromLine);
    }
    return true;
}

bool PtyLine::makeLink(const QString& path, QString* error) {
    if (!isOpen()) {
        if (error)
            *error = QStringLiteral("the pseudo-terminal is not open");
        return false;
    }
    if (QFileInfo(path).isSymLink())
        QFile::remove(path);
    if (!QFile::link(slavePath_, path)) {
        if (error)
            *error = QStringLiteral("cannot make the link %1").arg(path);
        return false;
    }
    links_.append(path);
    return true;
}

int PtyLine::hostBaud() const {
    termios tio{};
    if (slave_ < 0 || ::tcgetattr(slave_, &tio) != 0)
        return 0;
    return baudFromSpeed(::cfgetospeed(&tio));
}

void PtyLine::readMaster() {
    char buffer[4096];
    for (;;) {
        const ssize_t n = ::read(master_, buffer, sizeof buffer);
        if (n > 0) {
            if (line_)
                line_->hostWrite(QByteArray(buffer, qsizetype(n)), hostBaud());
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        // EAGAIN: all read. EIO cannot happen while the slave is held open here.
        return;
    }
}

void PtyLine::fromLine(const QByteArray& bytes) {
    outgoing_ += bytes;
    if (outgoing_.size() > outgoingLimit)
        outgoing_.remove(0, outgoing_.size() - outgoingLimit);
    writeMaster();
}

void PtyLine::writeMaster() {
    bool flushedStale = false;
    while (!outgoing_.isEmpty()) {
        const ssize_t n = ::write(master_, outgoing_.constData(), size_t(outgoing_.size()));
        if (n > 0) {
            outgoing_.remove(0, qsizetype(n));
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK) && !flushedStale) {
            // Nobody reads the line: drop what waits unread, as an overrun receiver would.
            ::tcflush(slave_, TCIFLUSH);
            flushedStale = true;
            continue;
        }
        break; // still full: go on when it can take more
    }
    if (writeNotifier_)
        writeNotifier_->setEnabled(!outgoing_.isEmpty());
}

} // namespace devsim

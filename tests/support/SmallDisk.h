#pragma once

// A real file system of a few kilobytes (tmpfs) on a temporary folder, for saves that run out of space
// or meet a read-only disk. Mounting needs root; where it cannot mount, whyNot() says why and the test
// skips with that reason.
#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QString>
#include <QTemporaryDir>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/mount.h>
#include <unistd.h>

namespace tarvo::test {

class SmallDisk {
public:
    explicit SmallDisk(int kilobytes) {
        const QByteArray options = "size=" + QByteArray::number(kilobytes) + "k,mode=0755";
        if (::mount("tarvo-test", QFile::encodeName(dir_.path()).constData(), "tmpfs", 0,
                    options.constData()) == 0)
            mounted_ = true;
        else
            whyNot_ =
                QStringLiteral("cannot mount a small tmpfs here (%1); needs root").arg(std::strerror(errno));
    }
    ~SmallDisk() {
        if (mounted_)
            ::umount2(QFile::encodeName(dir_.path()).constData(), MNT_DETACH);
    }
    SmallDisk(const SmallDisk&) = delete;
    SmallDisk& operator=(const SmallDisk&) = delete;

    bool mounted() const { return mounted_; }
    std::string whyNot() const { return whyNot_.toStdString(); }
    QString path(const QString& name = QString()) const {
        return name.isEmpty() ? dir_.path() : dir_.filePath(name);
    }

    // Takes every free block but about `leaveBytes` with a file of its own.
    void fill(qint64 leaveBytes) {
        const int fd =
            ::open(QFile::encodeName(dir_.filePath(".filler")).constData(), O_WRONLY | O_CREAT, 0600);
        const QByteArray block(4096, 'x');
        while (fd >= 0 && ::write(fd, block.constData(), block.size()) == block.size()) {
        }
        if (fd >= 0) {
            const off_t full = ::lseek(fd, 0, SEEK_END);
            ::ftruncate(fd, full > leaveBytes ? full - leaveBytes : 0);
            ::close(fd);
        }
    }
    bool makeReadOnly() {
        return ::mount(nullptr, QFile::encodeName(dir_.path()).constData(), nullptr, MS_REMOUNT | MS_RDONLY,
                       nullptr) == 0;
    }
    // The files the tests see: without the filler.
    QStringList entries(const QString& folder = QString()) const {
        QStringList names = QDir(path(folder)).entryList(QDir::Files | QDir::Hidden);
        names.removeAll(QStringLiteral(".filler"));
        return names;
    }

private:
    QTemporaryDir dir_;
    bool mounted_ = false;
    QString whyNot_;
};

} // namespace tarvo::test

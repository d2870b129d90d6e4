#pragma once

// A serial port that exists but that the user may not open: a pseudo-terminal with mode 000. Root may
// open anything, so a test run as root acts as "nobody" around the open (or runs the program as
// "nobody"); as an ordinary user mode 000 locks the owner out as well.
#include <QString>

#include <cstdlib>
#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tarvo::test {

class LockedTerminal {
public:
    LockedTerminal() {
        master_ = ::posix_openpt(O_RDWR | O_NOCTTY);
        if (master_ < 0 || ::grantpt(master_) != 0 || ::unlockpt(master_) != 0)
            return;
        const char* name = ::ptsname(master_);
        if (name && ::chmod(name, 0) == 0)
            path_ = QString::fromLocal8Bit(name);
    }
    ~LockedTerminal() {
        if (master_ >= 0)
            ::close(master_);
    }
    LockedTerminal(const LockedTerminal&) = delete;
    LockedTerminal& operator=(const LockedTerminal&) = delete;

    // Empty when no pseudo-terminal could be made.
    QString path() const { return path_; }

private:
    int master_ = -1;
    QString path_;
};

struct Nobody {
    uid_t uid = 0;
    gid_t gid = 0;
    bool found = false;
};
inline Nobody nobody() {
    const passwd* entry = ::getpwnam("nobody");
    return entry ? Nobody{entry->pw_uid, entry->pw_gid, true} : Nobody{};
}

// For its lifetime the process's effective ids are nobody's when it runs as root; the real ids stay,
// so they can be taken back.
class ActingAsNobody {
public:
    ActingAsNobody() {
        const Nobody who = nobody();
        if (::geteuid() != 0 || !who.found)
            return;
        switched_ = true;
        if (::setegid(who.gid) != 0 || ::seteuid(who.uid) != 0)
            std::abort(); // the test would pass for the wrong reason, or not at all
    }
    ~ActingAsNobody() {
        if (!switched_)
            return;
        if (::seteuid(0) != 0 || ::setegid(0) != 0)
            std::abort(); // a test run that cannot become root again must not go on half-privileged
        // Changing ids made the process non-dumpable; sanitizers and debuggers attach to it again.
        ::prctl(PR_SET_DUMPABLE, 1);
    }
    ActingAsNobody(const ActingAsNobody&) = delete;
    ActingAsNobody& operator=(const ActingAsNobody&) = delete;

private:
    bool switched_ = false;
};

// For QProcess::setChildProcessModifier: the child drops root for good before it starts the program.
// The ids are looked up before the fork; the child only makes system calls.
inline void becomeInChild(const Nobody& who) {
    if (::getuid() != 0)
        return;
    if (!who.found || ::setgroups(0, nullptr) != 0 || ::setgid(who.gid) != 0 || ::setuid(who.uid) != 0)
        ::_exit(126);
}

} // namespace tarvo::test

// A port the user may not open is reported as such: the operator learns to join the dialout group
// instead of hunting for a broken adapter.
#include "link/CommandLink.h"
#include "link/PortAccess.h"
#include "link/QtSerialPortDevice.h"
#include "support/FakeOperator.h"
#include "support/LockedTerminal.h"
#include "support/QtPrinters.h"

#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <sys/stat.h>

using namespace tarvo;

TEST(PortPermissionTest, ALockedPortSaysHowToGetAccessAndAnAbsentOneStaysPlain) {
    test::LockedTerminal locked;
    ASSERT_FALSE(locked.path().isEmpty()) << "no pseudo-terminal";
    if (::geteuid() == 0) {
        ASSERT_TRUE(test::nobody().found) << "the test acts as user nobody when run as root";
    }

    ComPortMap map;
    map.setPath(1, locked.path());
    map.setPath(2, QStringLiteral("/dev/tarvo-no-such-port"));
    test::FakeOperator op;
    CommandLink link(std::make_unique<QtSerialPortDevice>(map), op);

    QString reason;
    {
        test::ActingAsNobody unprivileged;
        link.port().setPortNumber(1);
        EXPECT_FALSE(link.port().open(&reason));
        EXPECT_FALSE(link.openPort(true));
        link.port().setPortNumber(2);
        EXPECT_FALSE(link.openPort(true));
    }
    // What tarvo-cli prints after "COMn not available: ", and the window's message box.
    EXPECT_EQ(reason, "permission denied: add your user to the dialout group and log in again");
    EXPECT_EQ(
        op.messageBoxes(),
        (QStringList{"COM1 not available: permission denied: add your user to the dialout group and log "
                     "in again",
                     "COM2 not available"}));
}

namespace {

// A pseudo-terminal anyone may open, standing for an adapter on the desk.
class OpenTerminal {
public:
    OpenTerminal() {
        master_ = ::posix_openpt(O_RDWR | O_NOCTTY);
        if (master_ < 0 || ::grantpt(master_) != 0 || ::unlockpt(master_) != 0)
            return;
        if (const char* name = ::ptsname(master_))
            path_ = QString::fromLocal8Bit(name);
    }
    ~OpenTerminal() {
        if (master_ >= 0)
            ::close(master_);
    }
    OpenTerminal(const OpenTerminal&) = delete;
    OpenTerminal& operator=(const OpenTerminal&) = delete;
    QString path() const { return path_; }

private:
    int master_ = -1;
    QString path_;
};

} // namespace

// A second program on a port the first one holds hears that the port is in use by another program,
// not only that it is "not available" (and then that there is no COM port at all).
TEST(PortPermissionTest, APortHeldByAnotherProgramSaysSo) {
    OpenTerminal terminal;
    ASSERT_FALSE(terminal.path().isEmpty()) << "no pseudo-terminal";
    ComPortMap map;
    map.setPath(1, terminal.path());
    QtSerialPortDevice first(map);
    first.setPortNumber(1);
    QString reason;
    ASSERT_TRUE(first.open(&reason)) << reason.toStdString();

    test::FakeOperator op;
    CommandLink second(std::make_unique<QtSerialPortDevice>(map), op);
    second.port().setPortNumber(1);
    EXPECT_FALSE(second.port().open(&reason));
    EXPECT_TRUE(reason.startsWith("in use by another program")) << reason.toStdString();
    EXPECT_FALSE(second.openPort(true));
    ASSERT_EQ(op.messageBoxes().size(), 1);
    EXPECT_TRUE(op.messageBoxes().first().startsWith("COM1 not available: in use by another program"))
        << op.messageBoxes().first().toStdString();
    first.close();
    EXPECT_TRUE(second.port().open(&reason)) << reason.toStdString();
}

// A mapped path that is no serial port says what it is (the driver said "No error" of each of these).
TEST(PortPermissionTest, APathThatIsNoSerialPortSaysWhatItIs) {
    QTemporaryDir dir;
    const QString pipe = dir.filePath("pipe");
    ASSERT_EQ(::mkfifo(QFile::encodeName(pipe).constData(), 0666), 0);
    const QString plain = dir.filePath("plain");
    QFile file(plain);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.close();
    const QList<std::pair<QString, QString>> cases = {{pipe, "Is a pipe, not a serial port"},
                                                      {dir.path(), "Is a folder, not a serial port"},
                                                      {plain, "Is a plain file, not a serial port"},
                                                      {"/dev/null", "Not a serial port"},
                                                      {dir.filePath("gone"), "No such file or directory"}};
    ComPortMap map;
    for (int i = 0; i < cases.size(); ++i)
        map.setPath(i + 1, cases[i].first);
    QtSerialPortDevice port(map);
    for (int i = 0; i < cases.size(); ++i) {
        port.setPortNumber(i + 1);
        QString reason;
        EXPECT_FALSE(port.open(&reason)) << cases[i].first.toStdString();
        EXPECT_EQ(reason, cases[i].second) << cases[i].first.toStdString();
        EXPECT_FALSE(port.isOpen());
    }
}

// A port the user may not open is reported as such: the operator learns to join the dialout group
// instead of hunting for a broken adapter.
#include "link/CommandLink.h"
#include "link/PortAccess.h"
#include "link/QtSerialPortDevice.h"
#include "support/FakeOperator.h"
#include "support/LockedTerminal.h"
#include "support/QtPrinters.h"

#include <gtest/gtest.h>

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

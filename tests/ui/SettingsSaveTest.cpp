// Closing the window where "Tarvo.ini" cannot be written: the operator hears it once, with the path and
// the system's reason, the file stays as it was, and the window closes all the same.
#include "support/QtPrinters.h"
#include "support/SmallDisk.h"
#include "support/WindowRig.h"

#include <gtest/gtest.h>
#include <unistd.h>

using namespace tarvo;
using namespace tarvo::test;

TEST(WindowSettingsSave, ACloseThatCannotSaveTheSettingsSaysWhyOnceAndStillCloses) {
    WindowRig rig;
    rig.lineOn(1);
    const QByteArray old = contents(rig.settingsPath);
    SmallDisk disk(64);
    QString reason = QStringLiteral("Permission denied");
    if (geteuid() != 0) { // a folder without write permission stops anyone but root
        const QString folder = rig.dir.filePath("locked");
        ASSERT_TRUE(QDir().mkpath(folder));
        rig.settingsPath = folder + "/Tarvo.ini";
        ASSERT_TRUE(QFile::copy(rig.dir.filePath("Tarvo.ini"), rig.settingsPath));
        QFile::setPermissions(folder, QFile::ReadOwner | QFile::ExeOwner);
    } else if (disk.mounted()) { // root writes anywhere but on a read-only disk
        rig.settingsPath = disk.path("Tarvo.ini");
        ASSERT_TRUE(QFile::copy(rig.dir.filePath("Tarvo.ini"), rig.settingsPath));
        ASSERT_TRUE(disk.makeReadOnly());
        reason = QStringLiteral("Read-only file system");
    } else {
        GTEST_SKIP() << disk.whyNot();
    }
    rig.start();
    rig.main().close();
    EXPECT_FALSE(rig.main().isVisible());
    EXPECT_FALSE(rig.controller->link().port().isOpen());
    // Taking the windows and the program down says nothing more.
    rig.windows.reset();
    rig.controller.reset();
    EXPECT_EQ(rig.op.boxes, QStringList{"Settings not saved: " + rig.settingsPath + ": " + reason});
    EXPECT_EQ(contents(rig.settingsPath), old);
    QFile::setPermissions(rig.dir.filePath("locked"), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

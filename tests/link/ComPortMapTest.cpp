#include "link/ComPortMap.h"

#include <QFile>
#include <QSerialPort>
#include <QSerialPortInfo>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using tarvo::ComPortMap;

TEST(ComPortMap, ConfiguredKeysWinAndTheRestTakeSystemPortsUsbFirst) {
    QMap<int, QString> configured{{2, "/dev/pts/7"}, {3, ""}};
    QList<ComPortMap::SystemPort> system{{"ttyS10", "/dev/ttyS10"},
                                         {"ttyS2", "/dev/ttyS2"},
                                         {"ttyUSB1", "/dev/ttyUSB1"},
                                         {"ttyACM0", "/dev/ttyACM0"},
                                         {"ttyUSB0", "/dev/ttyUSB0"}};
    const ComPortMap map = ComPortMap::resolve(configured, system);
#ifndef Q_OS_WIN
    EXPECT_EQ(map.path(1), "/dev/ttyACM0");
    EXPECT_EQ(map.path(2), "/dev/pts/7");
    EXPECT_EQ(map.path(3), ""); // an empty key means: no port
    EXPECT_EQ(map.path(4), "/dev/ttyUSB0");
    EXPECT_EQ(map.path(5), "/dev/ttyUSB1");
    EXPECT_EQ(map.path(6), "/dev/ttyS2");
    EXPECT_EQ(map.path(7), "/dev/ttyS10");
    EXPECT_EQ(map.path(8), "");
#endif
    EXPECT_EQ(map.path(0), "");
    EXPECT_EQ(map.path(9), "");
}

TEST(ComPortMap, APortNamedByAKeyIsNotHandedOutTwice) {
    QMap<int, QString> configured{{5, "/dev/ttyUSB0"}};
    QList<ComPortMap::SystemPort> system{{"ttyUSB0", "/dev/ttyUSB0"}, {"ttyUSB1", "/dev/ttyUSB1"}};
    const ComPortMap map = ComPortMap::resolve(configured, system);
#ifndef Q_OS_WIN
    EXPECT_EQ(map.path(1), "/dev/ttyUSB1");
    EXPECT_EQ(map.path(2), "");
    EXPECT_EQ(map.path(5), "/dev/ttyUSB0");
#endif
}

TEST(ComPortMap, ReadsTheComPortsSectionCaseInsensitively) {
    QTemporaryDir dir;
    const QString path = dir.filePath("Tarvo.ini");
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("[Port]\nBaud=9600\n[comports]\nCOM1=/tmp/sim1\ncom4=\n");
    file.close();
    const QMap<int, QString> configured = ComPortMap::readConfigured(path);
    EXPECT_EQ(configured.value(1), "/tmp/sim1");
    EXPECT_TRUE(configured.contains(4));
    EXPECT_EQ(configured.value(4), "");
    EXPECT_FALSE(configured.contains(2));
    EXPECT_TRUE(ComPortMap::readConfigured(dir.filePath("missing.ini")).isEmpty());
}

TEST(ComPortMap, TheSystemsPortsAreThoseQtListsLessPlaceholdersThatCannotBeOpenedAsPorts) {
    QStringList ours;
    for (const ComPortMap::SystemPort& p : ComPortMap::systemPorts()) {
        EXPECT_EQ(p.location, "/dev/" + p.name);
        ours << p.name;
    }
    QStringList qts;
    for (const QSerialPortInfo& info : QSerialPortInfo::availablePorts())
        qts << info.portName();
    for (const QString& name : ours)
        EXPECT_TRUE(qts.contains(name)) << name.toStdString();
    // Qt may also list the 8250 driver's placeholders, ports the machine does not have: none of them opens
    // as a serial port.
    for (const QString& name : qts) {
        if (ours.contains(name))
            continue;
        EXPECT_TRUE(name.startsWith("ttyS")) << name.toStdString();
        QSerialPort port(name);
        EXPECT_FALSE(port.open(QIODevice::ReadWrite)) << name.toStdString();
    }
}

#include "SimProbe.h"

#include <engine/Line.h>
#include <engine/PtyLine.h>

#include <gtest/gtest.h>

#include <QDir>
#include <QFileInfo>
#include <QSerialPort>
#include <QTemporaryDir>

using devsim::DeviceConfig;
using devsim::Line;

namespace {

QByteArray readReply(QSerialPort& port, int ms) {
    QByteArray reply;
    devsim::test::waitUntil(
        [&] {
            reply += port.readAll();
            return reply.contains('\r');
        },
        ms);
    return reply;
}

TEST(PseudoTerminal, ARealSerialPortTalksToTheSimulator) {
    Line line;
    DeviceConfig config;
    config.identity = 4313;
    line.addDevice(config);
    devsim::PtyLine pty(&line);
    QString error;
    ASSERT_TRUE(pty.open(&error)) << error.toStdString();
    QTemporaryDir dir;
    const QString link = dir.filePath("ttySIM");
    ASSERT_TRUE(pty.makeLink(link, &error)) << error.toStdString();
    EXPECT_EQ(QFileInfo(link).symLinkTarget(), pty.slavePath());

    QSerialPort port;
    port.setPortName(link);
    ASSERT_TRUE(port.open(QIODevice::ReadWrite)) << port.errorString().toStdString();
    port.setBaudRate(115200);
    port.write("ID\r");
    EXPECT_EQ(readReply(port, 2000), "D:4313\r");
    EXPECT_EQ(line.receivedLog().back(), (Line::Received{"ID\r", 115200}));

    // At another rate the device stays quiet; closing and reopening does not hang up the line.
    port.setBaudRate(9600);
    port.write("ID\r");
    EXPECT_EQ(readReply(port, 200), "");
    port.close();
    ASSERT_TRUE(port.open(QIODevice::ReadWrite));
    port.setBaudRate(115200);
    port.write("IV\r");
    EXPECT_EQ(readReply(port, 2000), "V:1.00\r");
}

} // namespace

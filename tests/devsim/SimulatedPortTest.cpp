#include "SimProbe.h"

#include <engine/Line.h>
#include <engine/SimulatedPort.h>
#include <engine/SimulatedPorts.h>

#include <gtest/gtest.h>

using devsim::DeviceConfig;
using devsim::Line;
using devsim::SimulatedPort;
using devsim::SimulatedPorts;

namespace {

struct InProcessPort : ::testing::Test {
    InProcessPort() {
        line.addDevice(DeviceConfig{});
        SimulatedPorts::attach(2, &line);
        port.setPortNumber(2);
        port.setBaudRate(115200);
    }
    ~InProcessPort() override { SimulatedPorts::clear(); }
    Line line;
    SimulatedPort port;
};

TEST_F(InProcessPort, OpeningAnUnmappedComNumberFails) {
    SimulatedPort other;
    other.setPortNumber(5);
    QString error;
    EXPECT_FALSE(other.open(&error));
    EXPECT_FALSE(error.isEmpty());
    EXPECT_FALSE(other.isOpen());
}

TEST_F(InProcessPort, AComNumberOpensOnlyOnce) {
    ASSERT_TRUE(port.open());
    SimulatedPort second;
    second.setPortNumber(2);
    QString error;
    EXPECT_FALSE(second.open(&error));
    port.close();
    EXPECT_TRUE(second.open(&error));
}

TEST_F(InProcessPort, RepliesAreAnnouncedWithReadyReadFromTheEventLoop) {
    ASSERT_TRUE(port.open());
    int announced = 0;
    QObject::connect(&port, &tarvo::SerialPort::readyRead, [&] { ++announced; });
    ASSERT_TRUE(port.write("ID\r"));
    EXPECT_EQ(announced, 0); // never inside write
    ASSERT_TRUE(devsim::test::waitUntil([&] { return port.bytesAvailable() >= 7; }, 1000));
    EXPECT_GE(announced, 1);
    EXPECT_EQ(port.readAll(), "D:4110\r");
    EXPECT_EQ(port.bytesAvailable(), 0);
}

TEST_F(InProcessPort, WaitForReadyReadReturnsWhenDataComes) {
    ASSERT_TRUE(port.open());
    EXPECT_FALSE(port.waitForReadyRead(30));
    port.write("IV\r");
    ASSERT_TRUE(port.waitForReadyRead(1000));
    devsim::test::waitUntil([&] { return port.bytesAvailable() >= 7; }, 1000);
    char c = 0;
    ASSERT_TRUE(port.readByte(&c));
    EXPECT_EQ(c, 'V');
    port.clearInput();
    EXPECT_FALSE(port.readByte(&c));
}

TEST_F(InProcessPort, TheRateChangesAtOnceOnAnOpenPort) {
    ASSERT_TRUE(port.open());
    port.setBaudRate(9600);
    port.write("ID\r");
    EXPECT_FALSE(port.waitForReadyRead(50));
    port.setBaudRate(115200);
    port.write("ID\r");
    ASSERT_TRUE(port.waitForReadyRead(1000));
    EXPECT_EQ(line.receivedLog().front(), (Line::Received{"ID\r", 9600}));
    EXPECT_EQ(line.receivedLog().back(), (Line::Received{"ID\r", 115200}));
}

TEST_F(InProcessPort, UnpluggingReportsLostAndCloses) {
    ASSERT_TRUE(port.open());
    QString reason;
    QObject::connect(&port, &tarvo::SerialPort::lost, [&](const QString& r) { reason = r; });
    SimulatedPorts::unplug(2);
    EXPECT_FALSE(port.isOpen());
    EXPECT_FALSE(reason.isEmpty());
    EXPECT_FALSE(port.open());
    EXPECT_FALSE(port.write("ID\r"));
}

} // namespace

namespace {

// The search the program runs: at each rate a lone "\r", then "br" + rate; "OK" proves the rate.
TEST(InProcessSearch, ADeviceAt38400AnswersOnlyAtTheFourthRate) {
    Line line;
    DeviceConfig config;
    config.baud = 38400;
    line.addDevice(config);
    SimulatedPorts::attach(1, &line);
    SimulatedPort port;
    port.setPortNumber(1);
    ASSERT_TRUE(port.open());
    int found = 0;
    const int rates[] = {115200, 9600, 19200, 38400, 57600};
    for (int i = 0; i < 5 && !found; ++i) {
        port.setBaudRate(rates[i]);
        port.write("\r");
        port.clearInput();
        port.write("br" + QByteArray::number(rates[i]) + "\r");
        QByteArray reply;
        devsim::test::waitUntil(
            [&] {
                reply += port.readAll();
                return reply.contains('\r');
            },
            100);
        if (reply == "OK\r")
            found = rates[i];
    }
    EXPECT_EQ(found, 38400);
    EXPECT_EQ(line.devices().front()->storedBaud(), 38400);
    SimulatedPorts::clear();
}

} // namespace

#include "config/DeviceSetup.h"
#include "base/TimeScale.h"
#include "engine/Line.h"
#include "engine/SimulatedPort.h"
#include "engine/SimulatedPorts.h"
#include "link/CommandLink.h"
#include "link/PortSelection.h"
#include "link/SerialPort.h"
#include "protocol/Discovery.h"
#include "support/FakeOperator.h"

#include <gtest/gtest.h>

using namespace tarvo;

namespace {

class DeviceSetupTest : public ::testing::Test {
protected:
    void SetUp() override {
        TimeScale::setFactor(0.05); // the 8 s reset pause and the device's own reset time shrink alike
        devsim::SimulatedPorts::clear();
        devsim::DeviceConfig config;
        config.identity = 4114;
        config.baud = 115200;
        device = line.addDevice(config);
        devsim::SimulatedPorts::attach(1, &line);
        comm = std::make_unique<CommandLink>(std::make_unique<devsim::SimulatedPort>(), op);
        comm->initialise();
        ports = std::make_unique<PortSelection>(*comm);
        ports->setPortAvailable(1, true);
        ports->baudClicked(115200);
        ports->comClicked(1);
        discovery = std::make_unique<Discovery>(*comm, *ports, op);
        discovery->setStreamCommand([] { return QByteArray("SN\r"); });
        setup = std::make_unique<DeviceSetup>(*comm, *ports, *discovery, op);
        QObject::connect(setup.get(), &DeviceSetup::pageControlEnabledRequested,
                         [this](bool on) { pageControl << on; });
    }
    void TearDown() override {
        setup.reset();
        discovery.reset();
        ports.reset();
        comm.reset();
        devsim::SimulatedPorts::clear();
        TimeScale::setFactor(1.0);
    }

    QList<devsim::Line::Received> upTo(const QByteArray& text) const {
        QList<devsim::Line::Received> lines;
        for (const auto& r : line.receivedLines()) {
            lines << r;
            if (r.bytes == text)
                break;
        }
        return lines;
    }

    test::FakeOperator op;
    devsim::Line line;
    devsim::Device* device = nullptr;
    std::unique_ptr<CommandLink> comm;
    std::unique_ptr<PortSelection> ports;
    std::unique_ptr<Discovery> discovery;
    std::unique_ptr<DeviceSetup> setup;
    QList<bool> pageControl;
};

} // namespace

TEST_F(DeviceSetupTest, SetupWritesTheSetupBaudResetsAndFindsTheDeviceAtItsNewRate) {
    ports->familyBaudClicked(FamilyPage::Mxr41, 19200);
    op.answers = {true};

    setup->setupClicked();

    EXPECT_EQ(upTo("SR\r"),
              (QList<devsim::Line::Received>{
                  {"DX1\r", 115200}, {"br19200\r", 115200}, {"WP\r", 115200}, {"SR\r", 115200}}));
    EXPECT_EQ(device->activeBaud(), 19200);
    ASSERT_TRUE(discovery->found());
    EXPECT_EQ(comm->port().baudRate(), 19200);
    EXPECT_EQ(op.events.first(), "info: ");
    EXPECT_TRUE(op.events.contains("ask: Do you want to setup baudrate and fullduplex? -> yes"));
    EXPECT_TRUE(op.infoMessages().contains("Software reset.... Please wait!"));
    EXPECT_EQ(op.infoMessages().last(), "Device found at COM1  running 19200baud");
    EXPECT_EQ(pageControl, (QList<bool>{false, true}));
}

TEST_F(DeviceSetupTest, CancelInTheSetupQuestionStillResetsAndSearches) {
    op.answers = {false};
    setup->setupClicked();
    EXPECT_EQ(line.receivedTexts().first(), "SR\r");
    EXPECT_TRUE(discovery->found());
    EXPECT_EQ(pageControl, (QList<bool>{false, true}));
}

TEST_F(DeviceSetupTest, ASetupStepThatIsNotAcknowledgedStopsBeforeTheReset) {
    line.setFault(devsim::Line::Fault::Err);
    op.answers = {true};
    setup->setupClicked();
    EXPECT_EQ(line.receivedTexts(), (QList<QByteArray>{"DX1\r"}));
    EXPECT_EQ(op.infoMessages().last(), "Device setup NOT complete - Communikation error!");
    EXPECT_EQ(pageControl, (QList<bool>{false, true}));
}

TEST_F(DeviceSetupTest, LoadDefaultUnlocksLoadsResetsAndFinds) {
    op.answers = {true};
    setup->loadDefaultClicked();
    const QList<QByteArray> sent = line.receivedTexts();
    ASSERT_GE(sent.size(), 4);
    EXPECT_EQ(sent[0], "CE\r");
    EXPECT_EQ(sent[1], "CE" + QByteArray::number(device->unlockCode()).rightJustified(5, '0') + "\r");
    EXPECT_EQ(sent[2], "FD\r");
    EXPECT_EQ(sent[3], "SR\r");
    EXPECT_TRUE(op.messageBoxes().isEmpty());
    EXPECT_TRUE(op.infoMessages().contains("Default loaded successfylly!"));
    EXPECT_TRUE(discovery->found());
    EXPECT_EQ(pageControl, (QList<bool>{false, true}));
}

TEST_F(DeviceSetupTest, CancelInLoadDefaultSendsNothing) {
    op.answers = {false};
    setup->loadDefaultClicked();
    EXPECT_TRUE(line.receivedLines().isEmpty());
    EXPECT_EQ(op.events, (QStringList{"ask: Do you want to load factory defaults? -> no"}));
    EXPECT_EQ(pageControl, (QList<bool>{false, true}));
}

TEST_F(DeviceSetupTest, ASilentDeviceGetsNoFactoryDefaultsButStillTheReset) {
    line.setFault(devsim::Line::Fault::Silent);
    op.answers = {true};
    setup->loadDefaultClicked();
    EXPECT_EQ(line.receivedTexts(), (QList<QByteArray>{"CE\r", "SR\r"}));
    EXPECT_EQ(op.messageBoxes(), (QStringList{"Communication eror - Default not loaded!"}));
    EXPECT_EQ(op.infoMessages().last(), "Communication error... Power on and off and try again!");
    EXPECT_FALSE(discovery->found()); // no search after a reset that was not acknowledged
}

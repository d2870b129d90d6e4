#include "DiscoveryFixture.h"

using namespace tarvo;
using tarvo::test::DiscoveryFixture;

namespace {

class DiscoveryTest : public DiscoveryFixture {
protected:
    devsim::Line line1;
    devsim::Line line2;
};

} // namespace

TEST_F(DiscoveryTest, ADeviceAt38400OnCom2IsFoundAfterCom1sSixTries) {
    devsim::SimulatedPorts::attach(1, &line1); // a port with nothing behind it
    devsim::SimulatedPorts::attach(2, &line2);
    addDevice(line2, 4110, 38400);
    start(1, 115200);

    discovery->findDeviceClicked();

    ASSERT_TRUE(discovery->found());
    const QList<int> com1Rates = [&] {
        QList<int> r;
        for (const auto& t : baudTries(line1))
            r << t.baud;
        return r;
    }();
    EXPECT_EQ(com1Rates, (QList<int>{115200, 9600, 19200, 38400, 57600, 115200}));
    const auto com2 = baudTries(line2);
    ASSERT_EQ(com2.size(), 4);
    EXPECT_EQ(com2.last(), (devsim::Line::Received{"br38400\r", 38400}));
    EXPECT_EQ(discovery->deviceIdentity(), 4110);
    EXPECT_EQ(discovery->deviceLabel(), "Device: 4110");
    EXPECT_EQ(discovery->firmwareLabel(), "Firmware: ver.2.10");
    EXPECT_EQ(discovery->portLabel(), "COM2 @ 38400 baud");
    EXPECT_EQ(ports->lastUsedPort(), 2);
    const QStringList info = op.infoMessages();
    EXPECT_EQ(info.first(), "Searching for device.... please wait!");
    // The progress text names the rate the port had before each switch.
    EXPECT_TRUE(info.contains("Searching device... COM1@115200baud"));
    EXPECT_TRUE(info.contains("Searching device... COM2@19200baud"));
    EXPECT_EQ(info.last(), "Device found at COM2  running 38400baud");
    // The last try's text names the rate before the switch; once found, the caption names the rate in use.
    EXPECT_EQ(ports->portBaudCaption(), "COM2@38400 baud");
    // After the identification the selected stream is started again.
    EXPECT_EQ(line2.receivedTexts().mid(line2.receivedTexts().size() - 3),
              (QList<QByteArray>{"ID\r", "IV\r", "SN\r"}));
    EXPECT_TRUE(discovery->buttonGroupEnabled());
    EXPECT_FALSE(ports->searching());
    EXPECT_TRUE(comm->streamMatcher().isArmed());
}

TEST_F(DiscoveryTest, ADeviceThatAnswersAtOnceNeedsNoRateChange) {
    devsim::SimulatedPorts::attach(1, &line1);
    addDevice(line1, 2310, 19200);
    start(1, 19200);

    discovery->findDeviceClicked();

    EXPECT_TRUE(discovery->found());
    EXPECT_TRUE(baudTries(line1).isEmpty());
    EXPECT_EQ(line1.receivedTexts(), (QList<QByteArray>{"ID\r", "ID\r", "IV\r", "SN\r"}));
    EXPECT_EQ(comm->port().baudRate(), 19200);
    EXPECT_EQ(op.infoMessages(), (QStringList{"Searching for device.... please wait!",
                                              "Device found at COM1  running 19200baud"}));
    // 2310 shows the 23xx tab alone.
    EXPECT_EQ(tabs[0], 0);
    EXPECT_EQ(tabs[1], 1);
    EXPECT_EQ(tabs[2], 0);
    EXPECT_EQ(tabs[3], 0);
}

TEST_F(DiscoveryTest, SearchOnlySelectedTriesNoOtherPortAndReportsNotFound) {
    devsim::SimulatedPorts::attach(1, &line1);
    devsim::SimulatedPorts::attach(2, &line2);
    addDevice(line2, 4110, 9600);
    start(1, 115200);
    ports->setSearchOnlySelected(true);

    discovery->findDeviceClicked();

    EXPECT_FALSE(discovery->found());
    EXPECT_EQ(baudTries(line1).size(), 6);
    EXPECT_TRUE(line2.receivedLines().isEmpty());
    EXPECT_EQ(discovery->deviceIdentity(), Discovery::kNoIdentity);
    EXPECT_EQ(discovery->deviceLabel(), "Device: not found!");
    EXPECT_EQ(discovery->firmwareLabel(), "Firmware:?");
    EXPECT_EQ(discovery->portLabel(), "COM?");
    EXPECT_EQ(programmingState, 3);
    const QStringList info = op.infoMessages();
    ASSERT_GE(info.size(), 2);
    EXPECT_EQ(info.mid(info.size() - 2),
              (QStringList{"Device: not found!... please reset device and try again!",
                           "Device: not found!... please reset device and try again!"}));
    // Nothing found: the tabs stay as they were.
    EXPECT_EQ(tabs[0], -1);
}

TEST_F(DiscoveryTest, AnAddressedDeviceGetsItsAddressBeforeEveryRateTry) {
    devsim::SimulatedPorts::attach(1, &line1);
    addDevice(line1, 4114, 19200, 5);
    start(1, 115200);
    ports->setSearchOnlySelected(true);
    discovery->setDeviceAddress("05");

    discovery->findDeviceClicked();

    ASSERT_TRUE(discovery->found());
    const QList<devsim::Line::Received> sent = line1.receivedLines();
    EXPECT_EQ(sent.first().bytes, "CL05\r");
    int tries = 0;
    for (qsizetype i = 0; i < sent.size(); ++i) {
        if (!sent[i].bytes.startsWith("br"))
            continue;
        ++tries;
        ASSERT_GE(i, 2);
        // The lone "\r" ends any half line, then the address goes out at the rate being tried.
        EXPECT_EQ(sent[i - 2], (devsim::Line::Received{"\r", sent[i].baud}))
            << "before " << sent[i].bytes.constData();
        EXPECT_EQ(sent[i - 1], (devsim::Line::Received{"OP05\r", sent[i].baud}))
            << "before " << sent[i].bytes.constData();
    }
    EXPECT_EQ(tries, 3); // 115200, 9600, then 19200 answers
    EXPECT_EQ(discovery->deviceIdentity(), 4114);
}

TEST_F(DiscoveryTest, AnAddressOnASharedLineIsFoundAtItsOwnRate) {
    struct Case {
        devsim::Line* line;
        const char* address;
        int identity;
        int baud;
        QByteArray opened;
    };
    const Case cases[] = {
        {&line1, "05", 4114, 19200, "OP05\r"},
        {&line2, "03", 2310, 9600, "OP03\r"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.address);
        // The same two devices on one line each time: 03 at 9600 and 05 at 19200.
        addDevice(*c.line, 2310, 9600, 3);
        addDevice(*c.line, 4114, 19200, 5);
        devsim::SimulatedPorts::attach(1, c.line);
        start(1, 115200);
        ports->setSearchOnlySelected(true);
        discovery->setDeviceAddress(c.address);

        discovery->findDeviceClicked();

        ASSERT_TRUE(discovery->found());
        EXPECT_EQ(discovery->deviceIdentity(), c.identity);
        EXPECT_EQ(discovery->deviceLabel(), QStringLiteral("Device: %1").arg(c.identity));
        EXPECT_EQ(op.infoMessages().last(),
                  QStringLiteral("Device found at COM1  running %1baud").arg(c.baud));
        // The address that opened the device went out at the device's rate, right before the answered "br".
        const QList<devsim::Line::Received> sent = c.line->receivedLines();
        const QByteArray answered = "br" + QByteArray::number(c.baud) + "\r";
        const qsizetype at = sent.indexOf(devsim::Line::Received{answered, c.baud});
        ASSERT_GE(at, 1);
        EXPECT_EQ(sent[at - 1], (devsim::Line::Received{c.opened, c.baud}));
    }
}

TEST_F(DiscoveryTest, AnAddressOtherThanNoneOrZeroToSixtyThreeIsRefused) {
    devsim::SimulatedPorts::attach(1, &line1);
    addDevice(line1, 4110, 115200);
    start(1, 115200);
    for (const char* text : {"5", "64", "5; rm -rf x", "ab", "", "-1", " 05", "05\r"}) {
        discovery->setDeviceAddress(text);
        EXPECT_EQ(discovery->deviceAddress(), "None") << text;
    }
    discovery->setDeviceAddress("63");
    EXPECT_EQ(discovery->deviceAddress(), "63");
    discovery->setDeviceAddress("7");
    EXPECT_EQ(discovery->deviceAddress(), "63");
    discovery->setDeviceAddress("None");
    EXPECT_EQ(discovery->deviceAddress(), "None");

    // An unaddressed search sends no address lines.
    discovery->setDeviceAddress("5");
    discovery->findDeviceClicked();
    ASSERT_TRUE(discovery->found());
    for (const QByteArray& line : line1.receivedTexts()) {
        EXPECT_FALSE(line.startsWith("CL")) << line.constData();
        EXPECT_FALSE(line.startsWith("OP")) << line.constData();
    }
}

TEST_F(DiscoveryTest, IdentityZeroGetsGAndASecondSearch) {
    devsim::SimulatedPorts::attach(1, &line1);
    addDevice(line1, 0, 115200);
    start(1, 115200);

    discovery->findDeviceClicked();

    const QList<QByteArray> sent = line1.receivedTexts();
    const qsizetype g = sent.indexOf("G\r");
    ASSERT_GE(g, 0);
    EXPECT_EQ(sent.mid(g + 1), (QList<QByteArray>{"ID\r", "ID\r", "IV\r", "SN\r"}));
    EXPECT_EQ(op.infoMessages().count("Searching for device.... please wait!"), 2);
    EXPECT_EQ(discovery->deviceIdentity(), 0);
    EXPECT_EQ(discovery->deviceLabel(), "Device: 0");
    // Number 0 hides all four family tabs.
    for (int tab : tabs)
        EXPECT_EQ(tab, 0);
}

TEST_F(DiscoveryTest, TheFamilyTableChoosesPageCaptionAndExtraControls) {
    struct Case {
        int identity;
        FamilyPage page;
        const char* caption;
        bool logGetDosed;
        bool valueDisplay;
    };
    const Case cases[] = {
        {4114, FamilyPage::Mxr41, "MXR 41xx", true, true},
        {4110, FamilyPage::Mxr41, "MXR 41xx", false, false},
        {5115, FamilyPage::Mxr41, "KVT 51xx", false, true},
        {5114, FamilyPage::Mxr41, "KVT 51xx", true, true},
        {3010, FamilyPage::Mxr41, "ZQ4E", false, true},
        {2113, FamilyPage::Mxr21, "MXR 21xx", false, false},
        {4314, FamilyPage::Tcw43, "TCW 43xx", false, true},
        {6110, FamilyPage::Tcw43, "RHN 61xx", false, false},
    };
    devsim::SimulatedPorts::attach(1, &line1);
    devsim::Device* device = addDevice(line1, 4110, 115200);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.identity);
        device->setIdentity(c.identity);
        start(1, 115200); // a fresh window for each number
        discovery->findDeviceClicked();
        ASSERT_TRUE(discovery->found());
        for (int i = 0; i < kFamilyPages; ++i)
            EXPECT_EQ(tabs[i], i == static_cast<int>(c.page) ? 1 : 0) << "tab " << i;
        EXPECT_EQ(discovery->familyCaption(c.page), c.caption);
        EXPECT_EQ(discovery->logGetDosedVisible(), c.logGetDosed);
        EXPECT_EQ(discovery->valueDisplayVisible(), c.valueDisplay);
        for (int& tab : tabs)
            tab = -1;
    }
}

TEST_F(DiscoveryTest, ExtraControlsAreOnlySwitchedOnExceptLogGetDosedOnOtherFamilies) {
    devsim::SimulatedPorts::attach(1, &line1);
    devsim::Device* device = addDevice(line1, 4114, 115200);
    start(1, 115200);
    discovery->findDeviceClicked();
    ASSERT_TRUE(discovery->logGetDosedVisible());
    // 4110 switches nothing off.
    device->setIdentity(4110);
    discovery->findDeviceClicked();
    EXPECT_TRUE(discovery->logGetDosedVisible());
    EXPECT_TRUE(discovery->valueDisplayVisible());
    // A 43xx hides "Log GetDosed" and keeps the value display.
    device->setIdentity(4310);
    discovery->findDeviceClicked();
    EXPECT_FALSE(discovery->logGetDosedVisible());
    EXPECT_TRUE(discovery->valueDisplayVisible());
    EXPECT_EQ(tabs[3], 1);
    // An unknown number leaves every tab as it was.
    for (int& tab : tabs)
        tab = -1;
    device->setIdentity(1234);
    discovery->findDeviceClicked();
    EXPECT_EQ(discovery->deviceLabel(), "Device: 1234");
    for (int tab : tabs)
        EXPECT_EQ(tab, -1);
}

TEST_F(DiscoveryTest, NothingAnywhereShowsNotFound) {
    devsim::SimulatedPorts::attach(1, &line1);
    devsim::SimulatedPorts::attach(3, &line2);
    start(1, 9600);
    discovery->findDeviceClicked();
    EXPECT_FALSE(discovery->found());
    // COM1 twice (first and last in the walk), COM3 once, six tries each.
    EXPECT_EQ(baudTries(line1).size(), 12);
    EXPECT_EQ(baudTries(line2).size(), 6);
    EXPECT_EQ(programmingState, 3);
    EXPECT_EQ(op.infoMessages().last(), "Device: not found!... please reset device and try again!");
}

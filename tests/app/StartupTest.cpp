#include "app/MainController.h"
#include "base/TimeScale.h"
#include "engine/Line.h"
#include "engine/SimulatedPort.h"
#include "engine/SimulatedPorts.h"
#include "support/FakeOperator.h"

#include <QFile>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QUrl>
#include <gtest/gtest.h>

using namespace tarvo;

namespace {

class StartupTest : public ::testing::Test {
protected:
    void SetUp() override {
        devsim::SimulatedPorts::clear();
        TimeScale::setFactor(0.05);
    }
    void TearDown() override {
        controller.reset();
        devsim::SimulatedPorts::clear();
        TimeScale::setFactor(1.0);
    }
    devsim::Line* lineOn(int com) {
        auto line = std::make_unique<devsim::Line>();
        devsim::DeviceConfig config;
        config.baud = 115200;
        line->addDevice(config);
        devsim::SimulatedPorts::attach(com, line.get());
        lines.push_back(std::move(line));
        return lines.back().get();
    }
    void create() {
        controller = std::make_unique<MainController>(op, std::make_unique<devsim::SimulatedPort>(),
                                                      dir.filePath("Tarvo.ini"));
        controller->start();
    }
    QTemporaryDir dir;
    test::FakeOperator op;
    std::vector<std::unique_ptr<devsim::Line>> lines;
    std::unique_ptr<MainController> controller;
};

} // namespace

TEST_F(StartupTest, ProbeMarksAbsentPortsAndNothingReachesTheDeviceDuringCreation) {
    devsim::Line* com1 = lineOn(1);
    devsim::Line* com3 = lineOn(3);
    create();
    for (int com = 1; com <= 8; ++com)
        EXPECT_EQ(controller->ports().portAvailable(com), com == 1 || com == 3) << "COM" << com;
    EXPECT_TRUE(com1->receivedLog().isEmpty());
    EXPECT_TRUE(com3->receivedLog().isEmpty());
    EXPECT_TRUE(op.messageBoxes().isEmpty());
    EXPECT_TRUE(controller->pageControlEnabled());
    for (int f = 0; f < kFamilyPages; ++f)
        EXPECT_FALSE(controller->familyTabVisible(static_cast<FamilyPage>(f)));
    EXPECT_EQ(controller->activePage(), Page::Display);
}

TEST_F(StartupTest, FirstBytesAfterTheWindowShowsAreTheAutotransmitCommand) {
    devsim::Line* com1 = lineOn(1);
    create();
    controller->displayPageShown();
    const QList<QByteArray> sent = com1->receivedTexts();
    ASSERT_FALSE(sent.isEmpty());
    EXPECT_EQ(sent.first(), "SN\r");
    EXPECT_TRUE(controller->pageControlEnabled());
    // The stream matcher now expects net values.
    EXPECT_EQ(controller->link().streamMatcher().startString(), "N");
    EXPECT_TRUE(controller->link().streamMatcher().isActive());
}

TEST_F(StartupTest, OnlyComFivePresentStartsNormally) {
    lineOn(5);
    create();
    QSignalSpy close(controller.get(), &MainController::closeRequested);
    controller->displayPageShown();
    EXPECT_EQ(close.count(), 0);
    EXPECT_TRUE(controller->ports().portAvailable(5));
}

TEST_F(StartupTest, NoPortAtAllSaysSoAndEndsTheProgram) {
    create();
    QSignalSpy close(controller.get(), &MainController::closeRequested);
    controller->displayPageShown();
    EXPECT_EQ(close.count(), 1);
    // Opening COM1 at initialisation already failed visibly; the probe itself showed nothing.
    EXPECT_EQ(op.messageBoxes(),
              (QStringList{"COM1 not available", "No COM ports available... Tarvo program will terminate!"}));
    EXPECT_EQ(op.lastInfoLine(Page::Options), "No COM ports available... Tarvo program will terminate!");
}

TEST_F(StartupTest, OptionsPageShownWritesIdWithoutWaitingForAReply) {
    devsim::Line* com1 = lineOn(1);
    create();
    controller->optionsPageShown();
    EXPECT_EQ(com1->receivedTexts(), QList<QByteArray>{"ID\r"});
    EXPECT_TRUE(controller->pageControlEnabled());
}

TEST_F(StartupTest, ShutdownWritesSettingsBeforeThePortIsFreed) {
    lineOn(1);
    create();
    controller->shutdown();
    const QStringList& log = controller->stepLog();
    const qsizetype settings = log.indexOf("writeSettings");
    const qsizetype port = log.indexOf("serial port freed");
    ASSERT_GE(settings, 0);
    ASSERT_GE(port, 0);
    EXPECT_LT(settings, port);
    ASSERT_GE(log.indexOf("free CAN bridge"), 0);
    EXPECT_LT(log.indexOf("free CAN bridge"), settings);
    EXPECT_LT(port, log.indexOf("scope cleared: no scope"));
    EXPECT_FALSE(controller->link().port().isOpen());
    EXPECT_FALSE(controller->link().streamMatcher().isArmed());
    // Creation ran its steps in their order too: the settings read first, the ports after.
    EXPECT_LT(log.indexOf("readSettings"), log.indexOf("hide family tabs"));
    EXPECT_LT(log.indexOf("hide family tabs"), log.indexOf("page control enabled"));
    EXPECT_LT(log.indexOf("page control enabled"), log.indexOf("initialise"));
    EXPECT_LT(log.indexOf("initialise"), log.indexOf("probe COM8..COM1"));
    EXPECT_LT(log.indexOf("probe COM8..COM1"), log.indexOf("port settings applied"));
}

TEST_F(StartupTest, DroppedFilesReachTheLoaderOneCallEachInOrder) {
    lineOn(1);
    create();
    QSignalSpy dropped(controller.get(), &MainController::firmwareFileDropped);
    controller->filesDropped({"/tmp/a.qmf", "/tmp/b.s19", "/tmp/c.hex"});
    ASSERT_EQ(dropped.count(), 3);
    EXPECT_EQ(dropped[0][0].toString(), "/tmp/a.qmf");
    EXPECT_EQ(dropped[2][0].toString(), "/tmp/c.hex");
}

namespace {

// Serves one fixed HTTP response to every request.
class TinyHttpServer : public QObject {
public:
    explicit TinyHttpServer(QByteArray body, bool answer = true) : body_(std::move(body)), answer_(answer) {
        server_.listen(QHostAddress::LocalHost, 0);
        QObject::connect(&server_, &QTcpServer::newConnection, this, [this] {
            QTcpSocket* s = server_.nextPendingConnection();
            QObject::connect(s, &QTcpSocket::readyRead, s, [this, s] {
                s->readAll();
                if (!answer_)
                    return; // never answers: the look-up must give up by itself
                s->write("HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\nContent-Length: " +
                         QByteArray::number(body_.size()) + "\r\nConnection: close\r\n\r\n" + body_);
                s->disconnectFromHost();
            });
        });
    }
    QString url() const {
        return QStringLiteral("http://127.0.0.1:%1/updates/Tarvoupdates.ini").arg(server_.serverPort());
    }

private:
    QTcpServer server_;
    QByteArray body_;
    bool answer_;
};

} // namespace

TEST(LatestVersion, ReadsTheVersionKeyOrSaysNotAvailable) {
    TinyHttpServer good("[LatestVersion]\r\nVersion=2.1.0\r\n");
    EXPECT_EQ(MainController::readLatestVersion(good.url(), 3000), "2.1.0");
    TinyHttpServer noKey("[Other]\nVersion=9\n");
    EXPECT_EQ(MainController::readLatestVersion(noKey.url(), 3000), "Not available");
    TinyHttpServer silent("", false);
    EXPECT_EQ(MainController::readLatestVersion(silent.url(), 300), "Not available");
    EXPECT_EQ(MainController::readLatestVersion("http://127.0.0.1:1/Tarvoupdates.ini", 1000),
              "Not available");
}

TEST_F(StartupTest, LatestVersionSaysWhenNoUpdateLocationIsSetAndAsksTheOneSet) {
    lineOn(1);
    create();
    QStringList captions;
    QObject::connect(controller.get(), &MainController::latestVersionChanged,
                     [&captions](const QString& caption) { captions << caption; });
    controller->latestVersionClicked();
    EXPECT_EQ(controller->latestVersionCaption(), "No update location set");

    TinyHttpServer server("[LatestVersion]\r\nVersion=2.1.0\r\n");
    QFile ini(dir.filePath("Tarvo.ini"));
    ASSERT_TRUE(ini.open(QIODevice::Append));
    ini.write(("\n[Updates]\nLocation=" + server.url() + "\n").toUtf8());
    ini.close();
    controller->latestVersionClicked();
    EXPECT_EQ(captions, (QStringList{"No update location set", "2.1.0"}));

    // A machine without a network reads a local copy.
    QFile local(dir.filePath("Tarvoupdates.ini"));
    ASSERT_TRUE(local.open(QIODevice::WriteOnly));
    local.write("[LatestVersion]\nVersion=2.2.0\n");
    local.close();
    EXPECT_EQ(MainController::readLatestVersion(QUrl::fromLocalFile(local.fileName()).toString(), 3000),
              "2.2.0");
}

TEST_F(StartupTest, SampleOptionsAndScopeRangeSurviveACloseAndRestart) {
    lineOn(1);
    create();
    Acquisition& a = controller->acquisition();
    a.options().triggerLevelEdited("250");
    a.options().sampleTimeEdited("4000");
    a.options().setWaitForTrigger(6); // "Infinite"
    a.options().setUseEvery(3);       // "1000"
    a.options().setLongTermSampleEnable(true);
    a.options().setUseStatusInformation(true);
    controller->graph().setValueWindow(-50, 1234.5);
    controller->shutdown();
    controller.reset();

    create();
    Acquisition& b = controller->acquisition();
    EXPECT_EQ(b.options().triggerLevelText(), "250");
    EXPECT_EQ(b.options().sampleTimeText(), "4000");
    EXPECT_EQ(b.options().waitForTrigger(), 6);
    EXPECT_EQ(b.options().useEveryValue(), 1000);
    EXPECT_TRUE(b.options().longTermSampleEnable());
    EXPECT_TRUE(b.options().useStatusInformation());
    EXPECT_DOUBLE_EQ(controller->graph().top(), 1234.5);
    EXPECT_DOUBLE_EQ(controller->graph().bottom(), -50);
    EXPECT_EQ(controller->selectedGraphSlot(), 1);
}

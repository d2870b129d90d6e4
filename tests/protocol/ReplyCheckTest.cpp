#include "DiscoveryFixture.h"

#include <QMap>
#include <QTimer>

using namespace tarvo;

namespace {

// A port whose device answers each command line with a scripted reply, for replies the simulator never
// gives (an identity that is no number, a status that is cut short).
class ScriptedPort : public SerialPort {
public:
    QMap<QByteArray, QByteArray> replies;
    QList<QByteArray> written;

    void setPortNumber(int number) override { number_ = number; }
    int portNumber() const override { return number_; }
    void setBaudRate(qint32 baud) override { baud_ = baud; }
    qint32 baudRate() const override { return baud_; }
    void setDataBits(int) override {}
    void setParity(int) override {}
    bool open(QString*) override { return open_ = number_ == 1; }
    void close() override { open_ = false; }
    bool isOpen() const override { return open_; }
    void clearInput() override { input_.clear(); }
    void clearOutput() override {}
    bool write(const QByteArray& bytes) override {
        written << bytes;
        if (replies.contains(bytes)) {
            const QByteArray reply = replies.value(bytes);
            QTimer::singleShot(1, this, [this, reply] {
                input_ += reply;
                emit readyRead();
            });
        }
        return true;
    }
    qint64 bytesAvailable() const override { return input_.size(); }
    QByteArray readAll() override { return std::exchange(input_, {}); }
    bool readByte(char* byte) override {
        if (input_.isEmpty())
            return false;
        *byte = input_.front();
        input_.remove(0, 1);
        return true;
    }
    bool waitForReadyRead(int) override { return !input_.isEmpty(); }
    void setDtr(bool) override {}

private:
    int number_ = 1;
    qint32 baud_ = 9600;
    bool open_ = false;
    QByteArray input_;
};

class ReplyCheckTest : public ::testing::Test {
protected:
    void SetUp() override {
        TimeScale::setFactor(0.05);
        auto owned = std::make_unique<ScriptedPort>();
        port = owned.get();
        comm = std::make_unique<CommandLink>(std::move(owned), op);
        comm->initialise();
        ports = std::make_unique<PortSelection>(*comm);
        ports->setPortAvailable(1, true);
        ports->setSearchOnlySelected(true);
        discovery = std::make_unique<Discovery>(*comm, *ports, op);
    }
    void TearDown() override { TimeScale::setFactor(1.0); }

    test::FakeOperator op;
    ScriptedPort* port = nullptr;
    std::unique_ptr<CommandLink> comm;
    std::unique_ptr<PortSelection> ports;
    std::unique_ptr<Discovery> discovery;
};

} // namespace

TEST_F(ReplyCheckTest, AnIdentityThatIsNoNumberIsNotTakenAsOne) {
    port->replies["ID\r"] = "D:4x14\r";
    port->replies["IV\r"] = "V:3.00\r";
    for (int baud : {115200, 9600, 19200, 38400, 57600})
        port->replies["br" + QByteArray::number(baud) + "\r"] = "OK\r";
    discovery->findDeviceClicked();
    // The answer to "ID" proves nothing; the rate try does, and the label keeps its text.
    EXPECT_TRUE(port->written.contains("br115200\r"));
    EXPECT_TRUE(discovery->found());
    EXPECT_EQ(discovery->deviceIdentity(), Discovery::kNoIdentity);
    EXPECT_EQ(discovery->deviceLabel(), "Device: not found!");
    EXPECT_EQ(discovery->firmwareLabel(), "Firmware: ver.3.00");
}

TEST_F(ReplyCheckTest, StatusBitsAreReadOnlyFromACompleteReply) {
    struct Case {
        QByteArray reply;
        std::array<bool, 3> bits; // indices 0..2
        bool error;
    };
    const Case cases[] = {
        {"S:001000\r", {true, false, false}, false},  {"S:006000\r", {false, true, true}, false},
        {"S:000000\r", {false, false, false}, false}, {"S:00\r", {false, false, false}, true}, // cut short
        {"S:0a1000\r", {false, false, false}, true},                                           // not a number
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.reply.constData());
        port->replies["IS\r"] = c.reply;
        for (int i = 0; i < 3; ++i) {
            op.clear();
            EXPECT_EQ(discovery->statusBit(i), c.bits[static_cast<std::size_t>(i)]) << "index " << i;
            EXPECT_EQ(op.lastInfoLine(Page::Tcw43),
                      c.error ? "Communication error!... Check connections!" : QString())
                << "index " << i;
        }
    }
    port->replies.remove("IS\r");
    op.clear();
    EXPECT_FALSE(discovery->statusBit(0));
    EXPECT_EQ(op.events, (QStringList{"line(43xx): Communication error!... Check connections!"}));
}

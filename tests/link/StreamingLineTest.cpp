// Transactions on a line whose device keeps streaming while it answers: the answer and the next stream
// line arrive in one read, and the flush before sending may cut a line in two. The answer is always the
// device's own reply, never a stream line.
#include "link/CommandLink.h"
#include "link/SerialPort.h"
#include "support/FakeOperator.h"

#include <QTimer>
#include <gtest/gtest.h>

using namespace tarvo;

namespace {

// A port whose device streams "G" lines: each command is answered in one chunk that holds what the
// stream sent around the answer.
class StreamingPort : public SerialPort {
public:
    enum class Around { AnswerThenLine, LineAnswerLine, TailAnswerLine, TailLineAnswerTwoLines };

    void setAround(Around around) { around_ = around; }
    // A stream line on its own, as a device streaming between commands sends it.
    void streamOne() {
        input_ += line();
        emit readyRead();
    }
    QList<QByteArray> written;

    void setPortNumber(int number) override { number_ = number; }
    int portNumber() const override { return number_; }
    void setBaudRate(qint32 baud) override { baud_ = baud; }
    qint32 baudRate() const override { return baud_; }
    void setDataBits(int) override {}
    void setParity(int) override {}
    bool open(QString* = nullptr) override { return open_ = true; }
    void close() override { open_ = false; }
    bool isOpen() const override { return open_; }
    void clearInput() override { input_.clear(); }
    void clearOutput() override {}
    bool write(const QByteArray& bytes) override {
        written << bytes;
        const QByteArray answer = answerTo(bytes.trimmed());
        QTimer::singleShot(0, this, [this, answer] {
            input_ += chunkAround(answer);
            emit readyRead();
        });
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
    static QByteArray answerTo(const QByteArray& command) {
        if (command == "IV")
            return "V:2.10";
        if (command == "ID")
            return "D:4310";
        if (command == "GN")
            return "N+00042";
        if (command == "GG")
            return "G+00077";
        if (command == "TL")
            return "T+00150";
        if (command == "XX")
            return "ERR";
        if (command == "AG")
            return "G+10000";
        return "OK";
    }
    QByteArray line() { return "G+" + QByteArray::number(10000 + (++sample_ % 89999)) + '\r'; }
    QByteArray chunkAround(const QByteArray& answer) {
        const QByteArray reply = answer + '\r';
        switch (around_) {
        case Around::AnswerThenLine:
            return reply + line();
        case Around::LineAnswerLine:
            return line() + reply + line();
        case Around::TailAnswerLine:
            return line().mid(3) + reply + line();
        case Around::TailLineAnswerTwoLines:
            return "\r" + line() + reply + line() + line();
        }
        return reply;
    }

    Around around_ = Around::AnswerThenLine;
    QByteArray input_;
    int number_ = 1;
    qint32 baud_ = 115200;
    bool open_ = false;
    int sample_ = 0;
};

class StreamingLineTest : public ::testing::Test {
protected:
    void SetUp() override {
        auto owned = std::make_unique<StreamingPort>();
        port = owned.get();
        link = std::make_unique<CommandLink>(std::move(owned), op);
        link->initialise();
        // The live readout's matcher runs, as on the Display page.
        PacketMatcher& stream = link->streamMatcher();
        stream.setStartString("G");
        stream.setEndString("\r");
        stream.setEndConditions(PacketMatcher::EndString);
        stream.arm();
        stream.setEnabled(true);
        stream.setAutoEnable(true);
        link->setStreamSink([this](QByteArrayView line) { streamed << line.toByteArray(); });
    }

    test::FakeOperator op;
    StreamingPort* port = nullptr;
    std::unique_ptr<CommandLink> link;
    QList<QByteArray> streamed;
};

} // namespace

TEST_F(StreamingLineTest, EveryTransactionTakesTheDevicesAnswerNeverAStreamLine) {
    struct Case {
        QByteArray command;
        Framing framing;
        QByteArray answer;
    };
    const QList<Case> cases = {
        {"FL 3\r", Framing::startingWith("O"), "K"},
        {"IV\r", Framing::startingWith("V:"), "2.10"},
        {"IV\r", Framing::anyData(), "V:2.10"},
        {"FM0\r", Framing::anyData(), "OK"},
        {"XX\r", Framing::anyData(), "ERR"},
        {"XX\r", Framing::startingWith(""), "ERR"}, // a command file's empty "Answer="
        {"TL\r", Framing::anyData(), "T+00150"},
        // Asked for itself, a net line is the answer; a gross line is the answer to "GG".
        {"GN\r", Framing::anyData(), "N+00042"},
        {"GG\r", Framing::startingWith("G"), "+00077"},
    };
    const StreamingPort::Around arounds[] = {
        StreamingPort::Around::AnswerThenLine, StreamingPort::Around::LineAnswerLine,
        StreamingPort::Around::TailAnswerLine, StreamingPort::Around::TailLineAnswerTwoLines};
    int wrong = 0;
    for (int rep = 0; rep < 1000; ++rep) {
        port->setAround(arounds[rep % 4]);
        const Case& c = cases[rep % cases.size()];
        const QByteArray reply = link->sendAndReceive(1, c.command, 200, c.framing);
        // "GG" framed from "G" may meet a stream line first: any gross value is a true answer to it.
        const bool right =
            c.command == "GG\r" ? reply.size() == 6 && reply.startsWith('+') : reply == c.answer;
        if (!right && ++wrong <= 5)
            ADD_FAILURE() << "rep " << rep << ": " << c.command.trimmed().constData() << " answered "
                          << reply.constData();
    }
    EXPECT_EQ(wrong, 0);
}

TEST_F(StreamingLineTest, TheLiveVariantTakesTheAnswerAndTheStreamGoesOn) {
    const StreamingPort::Around arounds[] = {
        StreamingPort::Around::AnswerThenLine, StreamingPort::Around::LineAnswerLine,
        StreamingPort::Around::TailAnswerLine, StreamingPort::Around::TailLineAnswerTwoLines};
    int wrong = 0;
    for (int rep = 0; rep < 1000; ++rep) {
        port->setAround(arounds[rep % 4]);
        const bool refused = rep % 7 == 0;
        const QByteArray reply = link->sendAndReceiveLive(1, refused ? "XX" : "FL+3", 200);
        if (reply != (refused ? "ERR" : "OK") && ++wrong <= 5)
            ADD_FAILURE() << "rep " << rep << " answered " << reply.constData();
    }
    EXPECT_EQ(wrong, 0);
    // The command line's "+" stands for its carriage return.
    EXPECT_TRUE(port->written.contains("FL3\r"));
    EXPECT_FALSE(port->written.contains("FL+3\r"));
    // The stream matcher is back after every live transaction: later lines reach the readout.
    const qsizetype before = streamed.size();
    port->setAround(StreamingPort::Around::AnswerThenLine);
    link->sendAndReceiveLive(1, "FL 3", 200);
    link->waitSlice(5);
    link->writeRaw("SG\r");
    link->waitSlice(5);
    EXPECT_GT(streamed.size(), before);
}

TEST(StreamLineShapeTest, StreamLinesAndTheirTailsAreToldFromAnswers) {
    // What a stream sends or leaves behind a flush.
    for (const QByteArray& line : {QByteArray("N+00191"), QByteArray("G-0012.5"), QByteArray("00167"),
                                   QByteArray("+00167"), QByteArray(""), QByteArray("Gooooooo"),
                                   QByteArray("A+019.82"), QByteArray("\xc4\x12\x34\x56\x00\x12\x34", 7)})
        EXPECT_TRUE(CommandLink::isStreamLine(line, "IV\r")) << line.toHex().constData();
    // Answers, whatever stream runs.
    for (const QByteArray& answer :
         {QByteArray("OK"), QByteArray("ERR"), QByteArray("V:2.10"), QByteArray("E+00167"),
          QByteArray("T+00150"), QByteArray("P1:+00002"), QByteArray("S:000100"), QByteArray("X:001")})
        EXPECT_FALSE(CommandLink::isStreamLine(answer, "IV\r")) << answer.constData();
    // A line of the kind the command asks for is its answer.
    EXPECT_FALSE(CommandLink::isStreamLine("N+00191", "GN\r"));
    EXPECT_FALSE(CommandLink::isStreamLine("G+00191", "SG\r"));
    EXPECT_FALSE(CommandLink::isStreamLine("A+00191", "GA\r"));
    EXPECT_TRUE(CommandLink::isStreamLine("G+00191", "GN\r"));
    // So is one of the shape of the command's own answer: "AG" and "CG" answer "G+10000", "AD" "A +00000".
    EXPECT_FALSE(CommandLink::isStreamLine("G+10000", "AG\r"));
    EXPECT_FALSE(CommandLink::isStreamLine("G+10000", "CG\r"));
    EXPECT_FALSE(CommandLink::isStreamLine("A +00000", "AD\r"));
    EXPECT_TRUE(CommandLink::isStreamLine("N+00191", "AG\r"));
}

// While the program reads a gross stream, a line of the shape of "AG"'s answer may be the weight: none is
// taken, and the command goes unanswered rather than answered with a weight.
TEST_F(StreamingLineTest, AnAnswerOfTheRunningStreamsShapeIsNeverTakenFromIt) {
    QTimer streaming;
    QObject::connect(&streaming, &QTimer::timeout, port, &StreamingPort::streamOne);
    streaming.start(20);
    for (const Framing& framing : {Framing::anyData(), Framing::startingWith("G")}) {
        const QByteArray reply = link->sendAndReceive(1, "AG\r", 200, framing);
        EXPECT_EQ(reply, kTimeOutErr);
        EXPECT_EQ(port->written.last(), "AG\r");
    }
}

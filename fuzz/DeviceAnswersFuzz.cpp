// What a device answers, as the program reads it: discovery, the family pages' filter, check-weigher,
// dosing and loss-weigher reads, each command answered by whatever bytes the input holds (text, status
// packets, cut lines, nothing at all). Whatever came, every read must end, and none may leave the link
// waiting or held for the next one.
#include "FuzzEntry.h"
#include "app/MainController.h"
#include "base/Operator.h"
#include "base/TimeScale.h"
#include "config/CheckWeigherParameters.h"
#include "config/DosingParameters.h"
#include "config/FilterSettings.h"
#include "link/CommandLink.h"
#include "link/SerialPort.h"
#include "protocol/Discovery.h"

#include <QList>
#include <QTemporaryDir>
#include <QTimer>
#include <memory>
#include <utility>

using namespace tarvo;
using tarvo::fuzz::FuzzInput;

namespace {

// A port whose device answers each command line with the next of a list of answers, a moment later, as
// a real one does; an empty answer is silence. It opens whatever its number.
class AnsweringPort final : public SerialPort {
public:
    void setAnswers(QList<QByteArray> answers) {
        answers_ = std::move(answers);
        input_.clear();
        heard_.clear();
    }

    void setPortNumber(int number) override {
        if (number != number_)
            open_ = false;
        number_ = number;
    }
    int portNumber() const override { return number_; }
    void setBaudRate(qint32 baud) override { baud_ = baud; }
    qint32 baudRate() const override { return baud_; }
    void setDataBits(int) override {}
    void setParity(int) override {}
    bool open(QString*) override { return open_ = true; }
    void close() override { open_ = false; }
    bool isOpen() const override { return open_; }
    void clearInput() override { input_.clear(); }
    void clearOutput() override {}
    bool write(const QByteArray& bytes) override {
        if (!open_)
            return false;
        heard_ += bytes;
        // One answer per command line, never more than the input holds.
        for (qsizetype end = heard_.indexOf('\r'); end >= 0; end = heard_.indexOf('\r')) {
            heard_.remove(0, end + 1);
            if (answers_.isEmpty())
                continue;
            const QByteArray answer = answers_.takeFirst();
            if (!answer.isEmpty())
                QTimer::singleShot(0, this, [this, answer] {
                    input_ += answer;
                    emit readyRead();
                });
        }
        return true;
    }
    qint64 bytesAvailable() const override { return input_.size(); }
    QByteArray readAll() override { return std::exchange(input_, QByteArray()); }
    bool readByte(char* byte) override {
        if (input_.isEmpty())
            return false;
        *byte = input_.front();
        input_.remove(0, 1);
        return true;
    }
    bool waitForReadyRead(int) override {
        QCoreApplication::processEvents();
        return !input_.isEmpty();
    }
    void setDtr(bool) override {}

private:
    QList<QByteArray> answers_;
    QByteArray input_;
    QByteArray heard_;
    int number_ = 1;
    qint32 baud_ = 115200;
    bool open_ = false;
};

// The answers: each a length byte and that many bytes.
QList<QByteArray> answersOf(FuzzInput& in) {
    QList<QByteArray> answers;
    while (!in.empty())
        answers << in.bytes(in.byte());
    return answers;
}

} // namespace

TARVO_FUZZ_ENTRY(device_answers) {
    fuzz::ensureApplication();
    // Time-outs and pauses as the program has them, only shorter.
    TimeScale::setFactor(0.002);
    static SilentOperator op;
    static QTemporaryDir dir;
    static AnsweringPort* port = nullptr;
    // One controller for every input: it reserves the recording memory, which costs more than a run.
    static MainController* controller = [] {
        auto answering = std::make_unique<AnsweringPort>();
        port = answering.get();
        auto* c = new MainController(op, std::move(answering), dir.filePath(QStringLiteral("Tarvo.ini")));
        c->start();
        return c;
    }();

    FuzzInput in(data, size);
    // Up to four reads, chosen by the first bytes; the rest are the device's answers.
    int reads[4];
    for (int& r : reads)
        r = in.pick(7);
    port->setAnswers(answersOf(in));
    CommandLink& link = controller->link();
    link.openPort(true);
    for (const int read : reads) {
        switch (read) {
        case 0:
            controller->discovery().findDevice();
            break;
        case 1:
            controller->filterSettings(FamilyPage::Mxr41).readBack(true);
            break;
        case 2:
            controller->filterSettings(FamilyPage::Tcw43).readBack(false);
            break;
        case 3:
            controller->checkWeigher().refreshClicked();
            break;
        case 4:
            controller->checkWeigher().readTcw43Clicked();
            break;
        case 5:
            controller->dosingParameters().readClicked(DosingParameters::Group::Dosing);
            break;
        case 6:
            controller->dosingParameters().readClicked(DosingParameters::Group::LossWeigher);
            break;
        }
        QCoreApplication::processEvents();
        FUZZ_REQUIRE(!link.isBusy());
        FUZZ_REQUIRE(!controller->discovery().isSearching());
    }
    port->setAnswers({});
    return 0;
}

// The calibration wizard against a simulated transmitter: what reaches the device, in which order, what
// the operator is told, and what the device keeps afterwards.
#include "calibration/CalibrationWizard.h"
#include "support/ControllerRig.h"
#include "support/QtPrinters.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSet>
#include <QTimer>
#include <gtest/gtest.h>

using namespace tarvo;
using namespace tarvo::test;
using Wizard = CalibrationWizard;

namespace {

const QString kDone = Wizard::kDone;
const QString kNotCalibrated = Wizard::kNotCalibrated;
const QString kRemoveLoad = Wizard::kRemoveLoad;
const QString kPlaceLoad = Wizard::kPlaceLoad;

devsim::DeviceConfig transmitter(int identity) {
    devsim::DeviceConfig config;
    config.identity = identity;
    config.decimals = 1;
    config.weight = 40.0;
    config.resetMs = 100;
    return config;
}

// The operator empties the cell (its dead load stays on it) and later puts the test load on.
void operatorHandlesTheLoad(ControllerRig& rig, double deadLoad = 2.5, double testLoad = 50.0) {
    rig.op.onBox = [&rig, deadLoad, testLoad](const QString& box) {
        if (box == kRemoveLoad)
            rig.device->setWeight(deadLoad);
        else if (box == kPlaceLoad)
            rig.device->setWeight(deadLoad + testLoad);
    };
}

Wizard& wizard(ControllerRig& rig) {
    return rig.controller->calibrationWizard();
}

void calibrate(ControllerRig& rig) {
    wizard(rig).calibrateClicked();
    wizard(rig).continueClicked();
}

// The lines heard, with each code sent back to "CE" replaced by "CE<code>"; the codes in `codes`.
QList<QByteArray> withCodesHidden(const QList<QByteArray>& heard, QList<QByteArray>* codes) {
    static const QRegularExpression code(QStringLiteral("^CE(\\d{5})\\r$"));
    QList<QByteArray> out;
    for (const QByteArray& line : heard) {
        const QRegularExpressionMatch m = code.match(QString::fromLatin1(line));
        if (m.hasMatch()) {
            codes->append(m.captured(1).toLatin1());
            out << "CE<code>\r";
        } else {
            out << line;
        }
    }
    return out;
}

} // namespace

TEST(CalibrationWizard, ASuccessfulRunOnA4113SendsItsCommandsInOrderStoresTheCalibrationAndRestarts) {
    ControllerRig rig(transmitter(4113));
    ASSERT_TRUE(rig.find());
    operatorHandlesTheLoad(rig);
    wizard(rig).setLoadText("1000");
    wizard(rig).setDecimalPoint(2);

    wizard(rig).calibrateClicked();
    EXPECT_EQ(wizard(rig).instruction(), Wizard::kChoose);
    EXPECT_TRUE(wizard(rig).windowVisible());
    EXPECT_FALSE(wizard(rig).mainWindowEnabled());
    EXPECT_TRUE(rig.heard().isEmpty()); // opening the window sends nothing
    QStringList instructions;
    QObject::connect(&wizard(rig), &Wizard::changed, [&] {
        if (instructions.isEmpty() || instructions.last() != wizard(rig).instruction())
            instructions << wizard(rig).instruction();
    });
    wizard(rig).continueClicked();

    QList<QByteArray> codes;
    const QList<QByteArray> heard = withCodesHidden(rig.heard(), &codes);
    const QList<QByteArray> expected{// CONTINUE looks for the device first
                                     "ID\r", "ID\r", "IV\r", "SN\r",
                                     // the plain filter, the zero and gain as found
                                     "FM0\r", "UR0\r", "AZ\r", "AG\r",
                                     // zero, gain, decimal point and store, each after its own handshake
                                     "CE\r", "CE<code>\r", "IS\r", "CZ\r", "CE\r", "CE<code>\r", "IS\r",
                                     "CG1000\r", "CE\r", "CE<code>\r", "DP2\r", "CE\r", "CE<code>\r", "CS\r",
                                     // as left, then the restart and the search
                                     "AZ\r", "AG\r", "SR\r", "ID\r", "ID\r", "IV\r", "SN\r"};
    EXPECT_EQ(heard, expected);
    // The code is asked for each time: the device hands out a new one once the last was used.
    ASSERT_EQ(codes.size(), 4);
    EXPECT_EQ(QSet<QByteArray>(codes.begin(), codes.end()).size(), 4);

    EXPECT_EQ(instructions, (QStringList{Wizard::kChoose, kRemoveLoad, Wizard::kAwaitZero, kPlaceLoad,
                                         Wizard::kAwaitGain, kDone}));
    EXPECT_EQ(rig.op.messageBoxes(), (QStringList{kRemoveLoad, kPlaceLoad, kDone}));
    const QStringList info = rig.op.infoMessages();
    ASSERT_GE(info.size(), 3);
    EXPECT_EQ(info.mid(info.indexOf(kDone), 3),
              (QStringList{kDone, Wizard::kResetting, Discovery::kSearching}));
    EXPECT_EQ(info.last(), "Device found at COM1  running 115200baud");
    EXPECT_EQ(wizard(rig).state(), Wizard::State::Closed);
    EXPECT_TRUE(wizard(rig).mainWindowEnabled());
    EXPECT_TRUE(rig.controller->pageControlEnabled());

    // Zero at the dead load, 1000 counts for the 50.0 put on, two decimals: stored, so kept over the reset.
    EXPECT_EQ(rig.device->storedParameter("AZ"), 25);
    EXPECT_EQ(rig.device->storedParameter("AG"), 20000);
    EXPECT_EQ(rig.device->storedParameter("DP"), 2);
    EXPECT_EQ(rig.controller->transact("GG\r", "G", 200), "+010.00");
}

TEST(CalibrationWizard, TheLoadIsCheckedInItsOrderAndARefusedLoadEndsTheRunBeforeTheHandshake) {
    EXPECT_EQ(Wizard::loadProblem("65535"), "");
    EXPECT_EQ(Wizard::loadProblem("0"), "");
    EXPECT_EQ(Wizard::loadProblem("65536"), "Calibration Load - Value: 0 - 65535");
    EXPECT_EQ(Wizard::loadProblem("100000"), "Calibration Load - Max 65535!");
    EXPECT_EQ(Wizard::loadProblem("-5"), QString::fromUtf8("Can\u00b4t use character in Calibration Load!"));
    EXPECT_EQ(Wizard::loadProblem("1.5"), QString::fromUtf8("Can\u00b4t use character in Calibration Load!"));
    EXPECT_EQ(Wizard::loadProblem(""), "You have to enter Calibration Load!");

    // The filter reset of the listed models comes before the load check; other models get none.
    ControllerRig rig(transmitter(4113));
    ASSERT_TRUE(rig.find());
    wizard(rig).setLoadText("1.5");
    calibrate(rig);
    EXPECT_EQ(rig.heard(), (QList<QByteArray>{"ID\r", "ID\r", "IV\r", "SN\r", "FM0\r", "UR0\r"}));
    EXPECT_EQ(
        rig.op.messageBoxes(),
        (QStringList{QString::fromUtf8("Can\u00b4t use character in Calibration Load!"), kNotCalibrated}));
    EXPECT_EQ(wizard(rig).instruction(), kNotCalibrated);

    rig.device->setIdentity(4110);
    ASSERT_TRUE(rig.find());
    wizard(rig).setLoadText("100000");
    calibrate(rig);
    EXPECT_EQ(rig.heard(), (QList<QByteArray>{"ID\r", "ID\r", "IV\r", "SN\r"}));
    EXPECT_EQ(rig.op.messageBoxes(), (QStringList{"Calibration Load - Max 65535!", kNotCalibrated}));
    EXPECT_EQ(rig.device->parameter("FM"), 0);
    EXPECT_TRUE(wizard(rig).mainWindowEnabled());
}

TEST(CalibrationWizard, ASignalThatDoesNotSettleInTimeEndsTheStepWithItsOwnText) {
    ControllerRig rig(transmitter(4110), 0.1);
    ASSERT_TRUE(rig.find());
    rig.device->setSettleMs(-1); // never still
    QElapsedTimer sinceRemoved;
    qint64 waited = 0;
    rig.op.onBox = [&](const QString& box) {
        if (box == kRemoveLoad)
            sinceRemoved.start();
        else if (box == Wizard::kZeroUnstable)
            waited = sinceRemoved.elapsed();
    };
    calibrate(rig);
    QList<QByteArray> heard = rig.heard();
    EXPECT_EQ(heard.count("IS\r"), 10);
    EXPECT_FALSE(heard.contains("CZ\r"));
    EXPECT_EQ(rig.op.messageBoxes(), (QStringList{kRemoveLoad, Wizard::kZeroUnstable}));
    EXPECT_EQ(wizard(rig).instruction(), Wizard::kZeroUnstable);
    // 1 s, then ten times 1 s and a status query: about 11 s of device time.
    EXPECT_GE(waited, qint64(11000 * TimeScale::factor()) - 5);

    // Still only from the tenth query on: that query is asked but does not count.
    rig.op.clear();
    QTimer settleAtTheTenth;
    QObject::connect(&settleAtTheTenth, &QTimer::timeout, [&] {
        if (rig.line.receivedTexts().count("IS\r") >= 9)
            rig.device->setSettleMs(0);
    });
    settleAtTheTenth.start(1);
    calibrate(rig);
    settleAtTheTenth.stop();
    heard = rig.heard();
    EXPECT_EQ(heard.count("IS\r"), 10);
    EXPECT_FALSE(heard.contains("CZ\r"));
    EXPECT_EQ(rig.op.messageBoxes(), (QStringList{kRemoveLoad, Wizard::kZeroUnstable}));

    // The gain step's text ends with an exclamation mark.
    rig.op.clear();
    rig.device->setSettleMs(300);
    rig.op.onBox = [&](const QString& box) {
        if (box == kRemoveLoad)
            rig.device->setWeight(0);
        else if (box == kPlaceLoad)
            rig.device->setSettleMs(-1);
    };
    calibrate(rig);
    heard = rig.heard();
    EXPECT_TRUE(heard.contains("CZ\r"));
    EXPECT_FALSE(heard.contains("CG1000\r"));
    EXPECT_EQ(rig.op.messageBoxes(), (QStringList{kRemoveLoad, kPlaceLoad, Wizard::kGainUnstable}));
    EXPECT_TRUE(QString(Wizard::kGainUnstable).endsWith('!'));
    EXPECT_FALSE(QString(Wizard::kZeroUnstable).endsWith('!'));
}

TEST(CalibrationWizard, EachRefusalEndsTheWizardWithItsTextAndNothingIsStored) {
    ControllerRig rig(transmitter(4113));
    ASSERT_TRUE(rig.find());
    operatorHandlesTheLoad(rig);
    QStringList instructions;
    QObject::connect(&wizard(rig), &Wizard::changed, [&] { instructions << wizard(rig).instruction(); });

    // A load of 0 passes the check and goes out as "CG0"; the device takes no gain from it.
    wizard(rig).setLoadText("0");
    calibrate(rig);
    QList<QByteArray> heard = rig.heard();
    EXPECT_TRUE(heard.contains("CG0\r"));
    EXPECT_FALSE(heard.contains("CS\r"));
    EXPECT_EQ(rig.op.messageBoxes(),
              (QStringList{kRemoveLoad, kPlaceLoad, Wizard::kGainRefused, kNotCalibrated}));
    EXPECT_TRUE(instructions.contains(Wizard::kGainRefused));
    EXPECT_TRUE(rig.op.infoMessages().contains(Wizard::kGainRefused));

    // A refused zero on the serial link: its line text and its box text differ.
    rig.op.clear();
    instructions.clear();
    wizard(rig).setLoadText("1000");
    rig.device->setRefused({"CZ"});
    calibrate(rig);
    heard = rig.heard();
    EXPECT_FALSE(heard.contains("CG1000\r"));
    EXPECT_EQ(rig.op.messageBoxes(), (QStringList{kRemoveLoad, Wizard::kZeroRefusedBox, kNotCalibrated}));
    EXPECT_TRUE(instructions.contains(Wizard::kZeroRefusedLine));
    EXPECT_TRUE(rig.op.infoMessages().contains(Wizard::kZeroRefusedBox));

    // No handshake: nothing protected follows.
    rig.op.clear();
    rig.device->setRefused({"CE"});
    calibrate(rig);
    heard = rig.heard();
    EXPECT_EQ(heard.mid(heard.indexOf("UR0\r")), (QList<QByteArray>{"UR0\r", "AZ\r", "AG\r", "CE\r"}));
    EXPECT_EQ(rig.op.messageBoxes(), QStringList{kNotCalibrated});

    // The filter reset refused: the device is taken for not connected.
    rig.op.clear();
    rig.device->setRefused({"FM"});
    calibrate(rig);
    heard = rig.heard();
    EXPECT_EQ(heard.mid(heard.indexOf("FM0\r")), QList<QByteArray>{"FM0\r"});
    EXPECT_TRUE(rig.op.infoMessages().contains(Wizard::kNotConnected));
    EXPECT_EQ(rig.op.messageBoxes(), QStringList{kNotCalibrated});

    // No device at CONTINUE.
    rig.op.clear();
    rig.device->setRefused({});
    rig.line.setFault(devsim::Line::Fault::Silent);
    calibrate(rig);
    EXPECT_EQ(rig.op.messageBoxes(), QStringList{Wizard::kDeviceNotFound});
    EXPECT_EQ(wizard(rig).state(), Wizard::State::Closed);
    rig.line.setFault(devsim::Line::Fault::None);

    EXPECT_EQ(rig.device->storedParameter("AZ"), 0);
    EXPECT_EQ(rig.device->storedParameter("AG"), 10000);
    EXPECT_TRUE(rig.controller->pageControlEnabled());
}

TEST(CalibrationWizard, TheRecordIsOfferedOnlyAfterACompleteRunAndHoldsTheReadingsAsFoundAndAsLeft) {
    ControllerRig rig(transmitter(4110));
    rig.device->setParameter("AZ", 10);
    ASSERT_TRUE(rig.find());
    operatorHandlesTheLoad(rig);
    wizard(rig).setDecimalPoint(1);
    const QString record = rig.path("record.txt");
    const auto recordText = [&] {
        QFile file(record);
        return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
    };

    rig.op.answers = {true};
    rig.op.fileNames = {record};
    calibrate(rig);
    EXPECT_TRUE(rig.op.events.contains(QStringLiteral("ask: ") + Wizard::kSaveRecordQuestion + " -> yes"));
    EXPECT_FALSE(rig.heard().contains("FM0\r")); // not a model whose filter is reset
    QStringList lines = recordText().split('\n');
    ASSERT_GE(lines.size(), 2);
    const QDateTime stamped = QDateTime::fromString(lines[1].mid(6), Qt::ISODate);
    EXPECT_TRUE(stamped.isValid()) << lines[1].toStdString();
    EXPECT_LE(qAbs(stamped.secsTo(QDateTime::currentDateTime())), 60);
    lines[1] = "Date: <now>";
    EXPECT_EQ(lines, (QStringList{"Calibration record", "Date: <now>", "Device: 4110", "Firmware: 1.00",
                                  "Connection: COM1 @ 115200 baud", "Calibration load: 1000 n",
                                  "Decimal point: 0000.0", "Zero as found: +00010", "Zero as left: +00025",
                                  "Gain as found: +10000", "Gain as left: +20000", ""}));
    const QString written = recordText();

    // The store refused: no question, and the record stays as it was.
    rig.op.clear();
    rig.device->setRefused({"CS"});
    rig.op.answers = {true};
    rig.op.fileNames = {record};
    calibrate(rig);
    EXPECT_FALSE(rig.op.events.join('\n').contains(Wizard::kSaveRecordQuestion));
    EXPECT_EQ(recordText(), written);

    // A place that cannot take the file: said so, nothing else touched.
    rig.device->setRefused({});
    ASSERT_TRUE(QDir(rig.dir.path()).mkdir("folder"));
    rig.op.clear();
    rig.op.answers = {true};
    rig.op.fileNames = {rig.path("folder")};
    calibrate(rig);
    const QStringList boxes = rig.op.messageBoxes();
    ASSERT_FALSE(boxes.isEmpty());
    EXPECT_TRUE(boxes.last().startsWith(Wizard::kRecordNotSaved)) << boxes.last().toStdString();
    EXPECT_TRUE(QFileInfo(rig.path("folder")).isDir());
    EXPECT_EQ(recordText(), written);
}

// A transmitter streaming gross weights sends "G" lines, and without decimals ("G+00040") they read exactly
// as its gain's answer to "AG": the record never takes a streamed line for the gain. A net stream is told
// apart and the gain is read through it.
TEST(CalibrationWizard, TheRecordNeverTakesAStreamedWeightForTheGain) {
    const devsim::DeviceConfig config = transmitter(4110);
    for (const QString& selection : {QStringLiteral("SN"), QStringLiteral("SG")}) {
        SCOPED_TRACE(selection.toStdString());
        ControllerRig rig(config);
        rig.controller->readout().restoreAutotransmit(selection);
        ASSERT_TRUE(rig.find());
        operatorHandlesTheLoad(rig);
        const QString record = rig.path("record.txt");
        rig.op.answers = {true};
        rig.op.fileNames = {record};
        calibrate(rig);
        QFile file(record);
        ASSERT_TRUE(file.open(QIODevice::ReadOnly)) << rig.op.events.join('\n').toStdString();
        const QStringList lines = QString::fromUtf8(file.readAll()).split('\n');
        const QStringList gains = lines.filter("Gain as ");
        ASSERT_EQ(gains.size(), 2) << lines.join('\n').toStdString();
        if (selection == "SG")
            EXPECT_EQ(gains, (QStringList{"Gain as found: not read: the device was streaming gross values",
                                          "Gain as left: not read: the device was streaming gross values"}));
        else
            EXPECT_EQ(gains, (QStringList{"Gain as found: +10000", "Gain as left: +20000"}));
    }
}

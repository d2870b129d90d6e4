// Controls of the family pages and the Commands page that a technician uses at the machine, each driven
// through its widget against the simulator: what the device heard, and what the window then shows.
#include "config/DeviceSetup.h"
#include "config/FilterSettings.h"
#include "support/WindowRig.h"
#include "ui/MultiCommandPanel.h"
#include "ui/pages/CommandsPage.h"

#include <QComboBox>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <gtest/gtest.h>

using namespace tarvo;
using namespace tarvo::test;

namespace {

QStringList texts(const devsim::Line& line) {
    QStringList out;
    for (const QByteArray& t : line.receivedTexts())
        out << QString::fromLatin1(t).trimmed();
    return out;
}

} // namespace

TEST(FamilyPageControls, ALevelOptionLoadDefaultAndItsRefusalReachTheDevice) {
    WindowRig rig;
    devsim::Line& line = rig.startOnFamilyPage(4113, Page::Mxr41);
    auto idle = [&] {
        return waitFor(
            [&] { return !rig.controller->link().isBusy() && rig.controller->pageControlEnabled(); }, 20000);
    };

    // A cut-off level clicked: set and stored by the device, and shown as chosen.
    QRadioButton* level = rig.named<QRadioButton>(Page::Mxr41, "Level 5");
    ASSERT_NE(level, nullptr);
    line.clearReceived();
    rig.click(level);
    ASSERT_TRUE(idle());
    EXPECT_EQ(texts(line), (QStringList{"FL 5", "WP"}));
    EXPECT_TRUE(level->isChecked());
    EXPECT_EQ(rig.controller->filterSettings(FamilyPage::Mxr41).level(), 5);

    // Load Default, declined: nothing reaches the device. Accepted: the device's own code opens it, the
    // defaults are loaded, and the device is reset and found again.
    QPushButton* defaults = rig.named<QPushButton>(Page::Mxr41, "Load Default");
    ASSERT_NE(defaults, nullptr);
    line.clearReceived();
    rig.op.answers = {false};
    rig.click(defaults);
    ASSERT_TRUE(idle());
    EXPECT_TRUE(line.receivedTexts().isEmpty()) << texts(line).join(' ').toStdString();
    rig.op.answers = {true};
    rig.op.infoMessages.clear();
    rig.click(defaults);
    ASSERT_TRUE(idle());
    const QStringList heard = texts(line);
    ASSERT_GE(heard.size(), 4) << heard.join(' ').toStdString();
    EXPECT_EQ(heard.at(0), "CE");
    EXPECT_TRUE(heard.at(1).startsWith("CE")) << heard.join(' ').toStdString();
    EXPECT_EQ(heard.at(2), "FD");
    EXPECT_TRUE(heard.contains("SR")) << heard.join(' ').toStdString();
    EXPECT_TRUE(rig.op.infoMessages.contains(DeviceSetup::kDefaultLoaded))
        << rig.op.infoMessages.join('\n').toStdString();
    EXPECT_TRUE(rig.controller->discovery().found());

    // A device that refuses the defaults: the window says so, not "loaded".
    rig.op.answers = {true};
    rig.op.infoMessages.clear();
    rig.op.boxes.clear();
    line.setFault(devsim::Line::Fault::Err);
    rig.click(defaults);
    ASSERT_TRUE(idle());
    line.setFault(devsim::Line::Fault::None);
    EXPECT_FALSE(rig.op.infoMessages.contains(DeviceSetup::kDefaultLoaded));
    EXPECT_TRUE(rig.op.boxes.contains(DeviceSetup::kDefaultFailed)) << rig.op.boxes.join('\n').toStdString();
}

TEST(CommandsPageControls, TheAddressRangeAndTheEnterKeySendTheLineToEachDevice) {
    WindowRig rig;
    devsim::Line& line = rig.lineOn(1, {}, false);
    for (int address : {3, 4}) {
        devsim::DeviceConfig config;
        config.identity = 4110 + address;
        config.address = address;
        line.addDevice(config);
    }
    rig.start();
    rig.showPage(Page::Commands);
    ui::MultiCommandPanel* panel = rig.main().commandsPage()->multiCommandPanel();
    auto* from = rig.named<QComboBox>(Page::Commands, "From adr:");
    auto* to = rig.named<QComboBox>(Page::Commands, "To adr:");
    QLineEdit* entry = rig.named<QLineEdit>(Page::Commands, "Command line");
    ASSERT_TRUE(from && to && entry);
    // Chosen with the keyboard, as the list boxes are: "None", then 00..63.
    from->setFocus();
    for (int i = 0; i < 4; ++i)
        QTest::keyClick(from, Qt::Key_Down);
    to->setFocus();
    for (int i = 0; i < 5; ++i)
        QTest::keyClick(to, Qt::Key_Down);
    ASSERT_EQ(from->currentText(), "03");
    ASSERT_EQ(to->currentText(), "04");

    line.clearReceived();
    entry->setFocus();
    QTest::keyClicks(entry, "ID");
    QTest::keyClick(entry, Qt::Key_Return);
    QListWidget* log = panel->log();
    auto logged = [&] {
        QStringList lines;
        for (int i = 0; i < log->count(); ++i)
            lines << log->item(i)->text();
        return lines;
    };
    ASSERT_TRUE(waitFor([&] {
        return logged().contains("D:4114") && !rig.controller->multiCommandSender().isSending();
    })) << logged().join('\n').toStdString();
    EXPECT_TRUE(logged().contains("D:4113"));
    EXPECT_EQ(texts(line), (QStringList{"OP3", "ID", "OP4", "ID"}));
}

#include "app/MainController.h"
#include "engine/Line.h"
#include "engine/SimulatedPort.h"
#include "engine/SimulatedPorts.h"
#include "support/FakeOperator.h"
#include "ui/GraphOptionsGroup.h"
#include "ui/MainWindow.h"
#include "ui/QtOperator.h"
#include "ui/ScopePanel.h"
#include "ui/ScopeWidget.h"

#include <QCheckBox>
#include <QElapsedTimer>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

using namespace tarvo;

namespace {

// The windows' operator, but message boxes are recorded and closed instead of waiting for a click.
class RecordingQtOperator : public ui::QtOperator {
public:
    QStringList boxes;
    void showMessage(const QString& text, const QString&, MessageIcon) override { boxes << text; }
};

struct Rig {
    Rig() {
        devsim::SimulatedPorts::clear();
        line.addDevice({});
        devsim::SimulatedPorts::attach(1, &line);
        controller = std::make_unique<MainController>(op, std::make_unique<devsim::SimulatedPort>(),
                                                      dir.filePath("Tarvo.ini"));
        form = std::make_unique<ui::MainWindow>(*controller, op);
        // Never shown here: the pages a window makes once on screen are made now.
        form->buildPages();
        controller->start();
    }
    ~Rig() {
        form.reset();
        controller.reset();
        devsim::SimulatedPorts::clear();
    }
    devsim::Line line;
    QTemporaryDir dir;
    RecordingQtOperator op;
    std::unique_ptr<MainController> controller;
    std::unique_ptr<ui::MainWindow> form;
};

template <typename T> T* findNamed(QWidget* root, const QString& name) {
    for (T* w : root->findChildren<T*>())
        if (w->accessibleName() == name)
            return w;
    return nullptr;
}

} // namespace

TEST(Pages, DisplayPageCarriesTheScopeAndItsControls) {
    Rig rig;
    QWidget* display = rig.form->page(Page::Display);
    ASSERT_NE(rig.form->scopePanel(), nullptr);
    EXPECT_EQ(rig.form->scopePanel()->scope()->toolTip(), "Y = Counts (n)    X = Milliseconds (ms)");
    for (const char* hint : {"Zoom in and out", "Pan graph / move graph", "Save graph as JPEG",
                             "Save graph as *.csv file", "Print graph", "Redraw graph"})
        EXPECT_NE(findNamed<QWidget>(display, hint), nullptr) << hint;
    EXPECT_NE(findNamed<QWidget>(display, "Clear all graph's"), nullptr);
    EXPECT_NE(findNamed<QWidget>(display, "RESET"), nullptr);
    // Choosing "Graph 3" selects the slot that recording and saving use.
    rig.form->scopePanel()->slotButton(3)->click();
    EXPECT_EQ(rig.controller->selectedGraphSlot(), 3);
    // The value display and "Log GetDosed" stay hidden until identification asks for them.
    EXPECT_FALSE(rig.form->scopePanel()->valueDisplay()->isVisibleTo(display));
    EXPECT_FALSE(findNamed<QCheckBox>(display, "Log GetDosed")->isVisibleTo(display));
}

TEST(Pages, RedrawOfANeverRecordedSlotSaysSo) {
    Rig rig;
    QWidget* display = rig.form->page(Page::Display);
    auto* redraw = findNamed<QWidget>(display, "Redraw graph");
    ASSERT_NE(redraw, nullptr);
    QTest::mouseClick(redraw, Qt::LeftButton);
    EXPECT_EQ(rig.op.boxes, QStringList{"Can't redraw a graph that has never been drawed!"});
}

TEST(Pages, TypingAFourthUnitsCharacterIsRefused) {
    Rig rig;
    QWidget* options = rig.form->page(Page::Options);
    auto* units = findNamed<QLineEdit>(options, "Units");
    ASSERT_NE(units, nullptr);
    units->clear();
    QTest::keyClicks(units, "kgfx");
    EXPECT_EQ(units->text(), "kgf");
    EXPECT_EQ(rig.op.boxes, QStringList{"Units - Max 3 character!"});
    EXPECT_EQ(rig.controller->graph().unitLabel(), "kgf");
}

TEST(Pages, OptionsPageOffersSampleOptionsAndTheFileSeparator) {
    Rig rig;
    QWidget* options = rig.form->page(Page::Options);
    auto* trigger = findNamed<QLineEdit>(options, "Trigger level, counts");
    ASSERT_NE(trigger, nullptr);
    EXPECT_EQ(trigger->text(), "15");
    auto* separator = findNamed<QLineEdit>(options, "File Separator");
    ASSERT_NE(separator, nullptr);
    EXPECT_EQ(separator->text(), ",");
    EXPECT_TRUE(separator->isReadOnly());
    findNamed<QRadioButton>(options, "Semicolon")->click();
    EXPECT_EQ(rig.controller->dataFiles().separator(), ";");
    EXPECT_EQ(separator->text(), ";");
    findNamed<QRadioButton>(options, "Other")->click();
    EXPECT_FALSE(separator->isReadOnly());
}

TEST(Pages, AClickDuringAWaitingTransactionRunsAfterIt) {
    Rig rig;
    rig.line.setLatencyMs(150);
    rig.controller->ports().baudClicked(115200);
    QWidget* display = rig.form->page(Page::Display);
    auto* find = findNamed<QWidget>(display, "Find Device");
    ASSERT_NE(find, nullptr);
    QTimer::singleShot(20, [find] { QTest::mouseClick(find, Qt::LeftButton); });
    // The click arrives while this transaction waits; it must neither take its reply nor be lost.
    EXPECT_EQ(rig.controller->transact("IV\r", "V:", 1000), "1.00");
    EXPECT_EQ(rig.controller->discovery().deviceIdentity(), 9999);
    QElapsedTimer t;
    t.start();
    while (rig.controller->discovery().deviceIdentity() != 4110 && t.elapsed() < 10000)
        QTest::qWait(20);
    EXPECT_EQ(rig.controller->discovery().deviceIdentity(), 4110);
}

TEST(Pages, CtrlQClosesTheWindowAndRunsTheShutdown) {
    Rig rig;
    rig.form->show();
    rig.form->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(rig.form.get()));
    QTest::keyClick(rig.form.get(), Qt::Key_Q, Qt::ControlModifier);
    EXPECT_FALSE(rig.form->isVisible());
    EXPECT_TRUE(rig.controller->stepLog().contains("serial port freed"));
    EXPECT_FALSE(rig.controller->link().port().isOpen());
}

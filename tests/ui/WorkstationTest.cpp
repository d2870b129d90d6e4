// The window on any workstation: driven through assistive technology's own actions, on a laptop's small
// screen at normal and one and a half times the size, and as the desktop sees it (icon, menu entry).
#include "support/TestPaths.h"
#include "support/WindowRig.h"
#include "ui/widgets/InformationLine.h"

#include <QAccessible>
#include <QAccessibleActionInterface>
#include <QAccessibleEditableTextInterface>
#include <QApplication>
#include <QCheckBox>
#include <QFile>
#include <QGroupBox>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QRadioButton>
#include <QTabBar>
#include <QTabWidget>
#include <QTest>
#include <QtMath>
#include <gtest/gtest.h>

using namespace tarvo;
using namespace tarvo::test;

namespace {

// What a screen reader does with a check box, an option or a button that stays down: its toggle action,
// which changes the state without a click.
void toggleAccessibly(QAbstractButton* button) {
    ASSERT_NE(button, nullptr);
    QAccessibleInterface* a = QAccessible::queryAccessibleInterface(button);
    ASSERT_NE(a, nullptr);
    QAccessibleActionInterface* actions = a->actionInterface();
    ASSERT_NE(actions, nullptr);
    ASSERT_TRUE(actions->actionNames().contains(QAccessibleActionInterface::toggleAction()))
        << button->accessibleName().toStdString();
    actions->doAction(QAccessibleActionInterface::toggleAction());
    QTest::qWait(20);
}

// What assistive technology does to a text field (dictation, a braille display's editing): it sets the
// text through the field's editable-text interface, without a key press.
void typeAccessibly(QLineEdit* edit, const QString& text) {
    ASSERT_NE(edit, nullptr);
    QAccessibleInterface* a = QAccessible::queryAccessibleInterface(edit);
    ASSERT_NE(a, nullptr);
    QAccessibleEditableTextInterface* editable = a->editableTextInterface();
    ASSERT_NE(editable, nullptr) << edit->accessibleName().toStdString();
    editable->replaceText(0, int(edit->text().size()), text);
}

template <typename T> T* inside(QWidget* root, const QString& name) {
    for (T* w : root->findChildren<T*>())
        if (w->accessibleName() == name || w->objectName() == name)
            return w;
    return nullptr;
}

// The page names assistive technology lists in the page control.
QStringList listedPages(ui::MainWindow& window) {
    QStringList names;
    QAccessibleInterface* tabs = QAccessible::queryAccessibleInterface(window.pages()->tabBar());
    for (int i = 0; tabs && i < tabs->childCount(); ++i)
        if (QAccessibleInterface* tab = tabs->child(i); tab && tab->role() == QAccessible::PageTab)
            names << tab->text(QAccessible::Name);
    return names;
}

} // namespace

// Text put into a field by assistive technology is the text the program uses, as if it had been typed.
TEST(AssistiveTechnology, TextEnteredWithoutKeysIsTheTextUsed) {
    WindowRig rig;
    devsim::DeviceConfig config;
    config.identity = 4114;
    config.autotransmit = "SN";
    config.updateMs = 20;
    devsim::Line& line = rig.lineOn(1, config);
    rig.startAndFind();
    MainController& c = *rig.controller;

    rig.showFamilyPage(Page::Mxr41);
    QGroupBox* dosing = rig.named<QGroupBox>(Page::Mxr41, "Dosing Commands");
    ASSERT_NE(dosing, nullptr);
    rig.click(inside<QPushButton>(dosing, "Read Dosing Cmd."));
    QLineEdit* pd9 = inside<QLineEdit>(dosing, "PD9");
    ASSERT_TRUE(waitFor([&] { return pd9 && pd9->isEnabled() && !pd9->text().isEmpty(); }));
    typeAccessibly(pd9, "321");
    rig.click(inside<QPushButton>(dosing, "Write Dosing Cmd."));
    ASSERT_TRUE(waitFor([&] { return line.receivedTexts().contains("SD\r") && pd9->isEnabled(); }));
    EXPECT_TRUE(line.receivedTexts().contains("PD9 321\r"));
    EXPECT_EQ(line.devices().first()->storedParameter("PD9"), 321);
    EXPECT_EQ(pd9->text(), "321");

    rig.showPage(Page::Options);
    typeAccessibly(rig.named<QLineEdit>(Page::Options, "Trigger level, counts"), "25");
    EXPECT_EQ(c.acquisition().options().triggerLevelText(), "25");
    typeAccessibly(rig.named<QLineEdit>(Page::Options, "Sample time, ms"), "2000");
    EXPECT_EQ(c.acquisition().options().sampleTimeText(), "2000");
    typeAccessibly(rig.named<QLineEdit>(Page::Options, "Graph name"), "Filler 3");
    EXPECT_EQ(c.scopeControls().graphName(), "Filler 3");
    QLineEdit* units = rig.named<QLineEdit>(Page::Options, "Units");
    typeAccessibly(units, "kgfx");
    EXPECT_EQ(rig.op.boxes, QStringList{"Units - Max 3 character!"});
    EXPECT_EQ(units->text(), "kgf");
    EXPECT_EQ(c.graph().unitLabel(), "kgf");
    rig.click(rig.named<QRadioButton>(Page::Options, "Other"));
    typeAccessibly(rig.named<QLineEdit>(Page::Options, "File Separator"), "|");
    EXPECT_EQ(c.dataFiles().separator(), "|");

    rig.showPage(Page::Commands);
    typeAccessibly(rig.named<QLineEdit>(Page::Commands, "Command line"), "IV");
    EXPECT_EQ(c.multiCommandSender().line(), "IV");
    typeAccessibly(rig.named<QLineEdit>(Page::Commands, "Loop delay (ms)"), "1500");
    EXPECT_EQ(c.multiCommandSender().loopDelay(), "1500");

    rig.showPage(Page::Terminal);
    typeAccessibly(rig.named<QLineEdit>(Page::Terminal, "Command"), "ID");
    EXPECT_EQ(c.terminal().commandEntry(), "ID");

    typeAccessibly(inside<QLineEdit>(&rig.windows->calibrationWindow(), "Load"), "2500");
    EXPECT_EQ(c.calibrationWizard().loadText(), "2500");
}

TEST(AssistiveTechnology, OptionsOnEveryPageActWhenToggledAsOnAClick) {
    WindowRig rig;
    devsim::DeviceConfig config;
    config.identity = 4113;
    rig.lineOn(1, config);
    rig.lineOn(2);
    rig.startAndFind();
    MainController& c = *rig.controller;

    // Options page: the file separator, the big display, the search and the recording's options.
    rig.showPage(Page::Options);
    toggleAccessibly(rig.named<QRadioButton>(Page::Options, "Semicolon"));
    EXPECT_EQ(c.dataFiles().separatorChoice(), DataFiles::Separator::Semicolon);
    EXPECT_EQ(c.dataFiles().separator(), ";");
    toggleAccessibly(rig.named<QCheckBox>(Page::Options, "Show big display"));
    EXPECT_TRUE(rig.windows->bigDisplay().isVisible());
    toggleAccessibly(rig.named<QCheckBox>(Page::Options, "Show big display"));
    EXPECT_FALSE(rig.windows->bigDisplay().isVisible());
    const bool searchOnly = c.ports().searchOnlySelected();
    toggleAccessibly(rig.named<QCheckBox>(Page::Options, "Search only selected"));
    EXPECT_EQ(c.ports().searchOnlySelected(), !searchOnly);
    toggleAccessibly(rig.named<QCheckBox>(Page::Options, "Long-term sample enable"));
    EXPECT_TRUE(c.acquisition().options().longTermSampleEnable());
    rig.named<QCheckBox>(Page::Options, "Long-term sample enable")->click(); // back as it was

    // Terminal page: another COM port is opened.
    rig.showPage(Page::Terminal);
    toggleAccessibly(rig.main().terminalComButton(2));
    ASSERT_TRUE(waitFor([&] { return !c.link().isBusy() && c.link().port().portNumber() == 2; }));
    EXPECT_TRUE(rig.main().optionsComButton(2)->isChecked());
    toggleAccessibly(rig.main().terminalComButton(1));
    ASSERT_TRUE(waitFor([&] { return !c.link().isBusy() && c.link().port().portNumber() == 1; }));

    // Display page: the graph slot, then RUN and STOP record.
    rig.showPage(Page::Display);
    toggleAccessibly(rig.named<QRadioButton>(Page::Display, "Graph 2"));
    EXPECT_EQ(c.selectedGraphSlot(), 2);
    toggleAccessibly(rig.named<QPushButton>(Page::Display, "RUN"));
    ASSERT_TRUE(waitFor([&] { return c.acquisition().sampleIndex() > 5; }));
    toggleAccessibly(rig.named<QPushButton>(Page::Display, "STOP"));
    ASSERT_TRUE(waitFor([&] { return c.acquisition().stopDown() && !c.link().isBusy(); }));
    EXPECT_TRUE(c.recordings().slot(2).recorded);
    EXPECT_GT(c.recordings().slot(2).count, 5);
    EXPECT_TRUE(rig.named<QPushButton>(Page::Display, "STOP")->isChecked());
    EXPECT_FALSE(rig.named<QPushButton>(Page::Display, "RUN")->isChecked());

    // The device's page: the check-weigher's edge and the update rate, which is written to the device.
    rig.showFamilyPage(Page::Mxr41);
    toggleAccessibly(rig.named<QRadioButton>(Page::Mxr41, "LE"));
    EXPECT_EQ(c.checkWeigher().edge(), CheckWeigherParameters::Edge::Leading);
    const int rate = c.filterSettings(FamilyPage::Mxr41).rate() == 3 ? 4 : 3;
    QRadioButton* rateOption =
        inside<QRadioButton>(rig.page(Page::Mxr41), QStringLiteral("Rate %1").arg(rate));
    toggleAccessibly(rateOption);
    ASSERT_TRUE(
        waitFor([&] { return c.filterSettings(FamilyPage::Mxr41).rate() == rate && !c.link().isBusy(); }));
    EXPECT_TRUE(rateOption->isChecked());

    // Commands page.
    rig.showPage(Page::Commands);
    const bool clearAfter = c.multiCommandSender().clearAfterEnter();
    toggleAccessibly(rig.named<QCheckBox>(Page::Commands, "Clear after ENTER"));
    EXPECT_EQ(c.multiCommandSender().clearAfterEnter(), !clearAfter);

    // Programming page.
    rig.showPage(Page::Programming);
    const bool fixture = c.firmwareUpgrade().testFixture();
    toggleAccessibly(rig.named<QCheckBox>(Page::Programming, "MXR Testfixture"));
    EXPECT_EQ(c.firmwareUpgrade().testFixture(), !fixture);

    // The calibration window's decimal point.
    ui::CalibrationDialog& calibration = rig.windows->calibrationWindow();
    toggleAccessibly(calibration.decimalPointOption(2));
    EXPECT_EQ(c.calibrationWizard().decimalPoint(), 2);
}

TEST(AssistiveTechnology, OnlyTheFoundFamilysPageIsListedAndNoneOtherCanBeReached) {
    WindowRig rig;
    devsim::DeviceConfig config;
    config.identity = 4114;
    rig.lineOn(1, config);
    rig.start();
    ui::MainWindow& window = rig.main();
    EXPECT_EQ(listedPages(window),
              (QStringList{"Display", "Options", "Terminal", "Commands", "Programming"}));

    rig.click(rig.named<QPushButton>(Page::Display, "Find Device"));
    ASSERT_TRUE(rig.searched());
    const QStringList listed = listedPages(window);
    ASSERT_EQ(listed.size(), 6) << listed.join(", ").toStdString();
    EXPECT_EQ(listed.at(3), window.pages()->tabText(window.pages()->indexOf(rig.page(Page::Mxr41))));
    for (const char* other : {"MXR 21xx", "MXR 23xx", "TCW 43xx"})
        EXPECT_FALSE(listed.contains(other)) << other;

    // Every tab assistive technology offers, chosen by its own action: none leads to another family.
    QAccessibleInterface* tabs = QAccessible::queryAccessibleInterface(window.pages()->tabBar());
    ASSERT_NE(tabs, nullptr);
    for (int i = 0; i < tabs->childCount(); ++i) {
        QAccessibleInterface* tab = tabs->child(i);
        if (!tab || tab->role() != QAccessible::PageTab || !tab->actionInterface())
            continue;
        tab->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
        ASSERT_TRUE(waitFor(
            [&] { return !rig.controller->link().isBusy() && rig.controller->pageControlEnabled(); }));
        for (Page other : {Page::Mxr21, Page::Mxr23, Page::Tcw43})
            EXPECT_NE(window.pages()->currentWidget(), rig.page(other));
    }
    // Nor by the program's own means.
    window.pages()->setCurrentWidget(rig.page(Page::Tcw43));
    EXPECT_NE(window.pages()->currentWidget(), rig.page(Page::Tcw43));
}

TEST(AssistiveTechnology, TheBigDisplaysValueIsReadAndTheSmallWindowsAreWindows) {
    WindowRig rig;
    rig.lineOn(1);
    rig.start();
    ui::BigDisplayWindow& big = rig.windows->bigDisplay();
    rig.controller->readout().setShowBigDisplay(true);
    ASSERT_TRUE(big.isVisible());
    QLabel* value = big.findChild<QLabel*>("Big display");
    ASSERT_NE(value, nullptr);
    ASSERT_TRUE(waitFor([&] { return !big.text().isEmpty() && big.text() != "NO INPUT"; }));
    EXPECT_EQ(accessibleName(value), big.text());
    EXPECT_EQ(accessibleDescription(value), "Big display");
    big.setText("  123.4 kg");
    EXPECT_EQ(accessibleName(value), "  123.4 kg");

    for (QWidget* w : std::initializer_list<QWidget*>{&rig.windows->calibrationWindow(), &big,
                                                      &rig.windows->dataWindow()}) {
        QAccessibleInterface* a = QAccessible::queryAccessibleInterface(w);
        ASSERT_NE(a, nullptr);
        EXPECT_EQ(a->role(), QAccessible::Window) << w->windowTitle().toStdString();
        EXPECT_EQ(a->text(QAccessible::Name), w->windowTitle());
    }
}

TEST(Desktop, TheWindowsCarryTheIconAndTheMenuEntrysNames) {
    WindowRig rig;
    rig.lineOn(1);
    rig.start();
    EXPECT_EQ(QGuiApplication::desktopFileName(), "org.tarvo.Tarvo");
    // The small pictures are there from the start; the large ones follow the window's first paint.
    ASSERT_FALSE(rig.main().windowIcon().isNull());
    EXPECT_TRUE(rig.main().windowIcon().availableSizes().contains(QSize(16, 16)));
    EXPECT_TRUE(waitFor([&] { return rig.main().windowIcon().availableSizes().contains(QSize(256, 256)); }));
    const QList<QSize> sizes = rig.main().windowIcon().availableSizes();
    for (int size : {16, 22, 24, 32, 48, 64, 128, 256})
        EXPECT_EQ(sizes.count(QSize(size, size)), 1) << size;
    EXPECT_EQ(rig.main().windowIcon().pixmap(QSize(256, 256)).size(), QSize(256, 256));
    // Each size is the program's own picture; one between two is the larger scaled down, never larger
    // than asked; a disabled one is drawn as the style draws disabled icons.
    const QIcon icon = rig.main().windowIcon();
    for (int size : {16, 48}) {
        const QImage own(QString(":/icons/%1x%1.png").arg(size));
        ASSERT_FALSE(own.isNull()) << size;
        EXPECT_EQ(
            icon.pixmap(QSize(size, size)).toImage().convertToFormat(QImage::Format_ARGB32_Premultiplied),
            own.convertToFormat(QImage::Format_ARGB32_Premultiplied))
            << size;
    }
    EXPECT_EQ(icon.pixmap(QSize(20, 20)).size(), QSize(20, 20));
    EXPECT_EQ(icon.actualSize(QSize(40, 30)), QSize(30, 30));
    EXPECT_NE(icon.pixmap(QSize(32, 32), QIcon::Disabled).toImage(), icon.pixmap(QSize(32, 32)).toImage());
    EXPECT_FALSE(rig.windows->bigDisplay().windowIcon().isNull());
    // The entry names the window class the X11 windows carry: the application's name, first letter
    // capital.
    QFile entry(sourceDir() + "/data/org.tarvo.Tarvo.desktop");
    ASSERT_TRUE(entry.open(QIODevice::ReadOnly));
    QString wmClass = QGuiApplication::applicationName();
    wmClass[0] = wmClass[0].toUpper();
    EXPECT_TRUE(QString::fromUtf8(entry.readAll()).split('\n').contains("StartupWMClass=" + wmClass));
}

namespace {

// Every page shown in turn in a window of the given size: the page's information line lies whole inside
// the window, at no less than its own height.
void expectInformationLinesInView(WindowRig& rig, QSize size) {
    ui::MainWindow& window = rig.main();
    window.resize(size);
    for (Page p : kAllPages) {
        if (window.pages()->indexOf(rig.page(p)) < 0)
            continue;
        rig.showPage(p);
        QTest::qWait(20);
        ui::InformationLine* info = rig.page(p)->findChild<ui::InformationLine*>();
        ASSERT_NE(info, nullptr);
        const QRect inWindow(info->mapTo(&window, QPoint(0, 0)), info->size());
        EXPECT_TRUE(QRect(QPoint(0, 0), window.size()).contains(inWindow))
            << window.pages()->tabText(window.pages()->currentIndex()).toStdString();
        EXPECT_GE(info->height(), info->minimumSizeHint().height());
        EXPECT_TRUE(info->isVisible());
    }
}

} // namespace

TEST(SmallScreen, TheWindowFitsALaptopWithItsPanel) {
    // 1366×768 less a panel. Under QT_SCALE_FACTOR the window's size is counted in scaled pixels.
    WindowRig rig;
    devsim::DeviceConfig config;
    config.identity = 4113; // the tallest family page
    rig.lineOn(1, config);
    rig.startAndFind();
    ui::MainWindow& window = rig.main();
    const qreal scale = window.devicePixelRatioF();
    const QSize screen(qFloor(1366 / scale), qFloor(700 / scale));
    const QSize minimum = window.minimumSizeHint().expandedTo(window.minimumSize());
    EXPECT_LE(minimum.width(), screen.width()) << "at " << scale;
    EXPECT_LE(minimum.height(), screen.height()) << "at " << scale;
    expectInformationLinesInView(rig, screen);
}

TEST(SmallScreen, TheWindowFitsALaptopAtOneAndAHalfTimesTheSize) {
    if (qEnvironmentVariableIsSet("QT_SCALE_FACTOR"))
        GTEST_SKIP() << "the scaled run itself";
    // The scale is the platform's, fixed when the application starts: the test above runs again in a
    // process of its own at 150 %.
    QProcess scaled;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("QT_SCALE_FACTOR", "1.5");
    env.insert("QT_QPA_PLATFORM", "offscreen");
    scaled.setProcessEnvironment(env);
    scaled.start(QCoreApplication::applicationFilePath(),
                 {"--gtest_filter=SmallScreen.TheWindowFitsALaptopWithItsPanel"});
    ASSERT_TRUE(scaled.waitForFinished(240000));
    const QByteArray out = scaled.readAllStandardOutput();
    EXPECT_EQ(scaled.exitCode(), 0) << out.toStdString();
    EXPECT_TRUE(out.contains("[  PASSED  ] 1 test")) << out.toStdString();
}

TEST(SmallScreen, TheWindowFitsALaptopWithTextAtOneAndAHalfTimesItsSize) {
    // Larger text alone (the desktop's font setting): the window still fits, its lines stay in view.
    const QFont normal = QApplication::font();
    QFont large = normal;
    large.setPointSizeF(normal.pointSizeF() * 1.5);
    QApplication::setFont(large);
    {
        WindowRig rig;
        devsim::DeviceConfig config;
        config.identity = 4113;
        rig.lineOn(1, config);
        rig.startAndFind();
        const QSize minimum = rig.main().minimumSizeHint().expandedTo(rig.main().minimumSize());
        EXPECT_LE(minimum.width(), 1366);
        EXPECT_LE(minimum.height(), 700);
        expectInformationLinesInView(rig, QSize(1366, 700));
    }
    QApplication::setFont(normal);
}

TEST(Colours, TheSelectedFilterCharacteristicReadsAsWindowTextAndTheOthersFainter) {
    // The device's page reads the filter while the page control is locked; the colours must still be an
    // enabled group's once it is unlocked.
    WindowRig rig;
    devsim::DeviceConfig config;
    config.identity = 2310;
    config.autotransmit = "SN";
    config.updateMs = 20;
    rig.lineOn(1, config);
    rig.startAndFind();
    rig.showFamilyPage(Page::Mxr23);
    QGroupBox* filter = rig.named<QGroupBox>(Page::Mxr23, "Filter");
    ASSERT_NE(filter, nullptr);
    ASSERT_TRUE(waitFor([&] { return filter->isEnabled() && !rig.controller->link().isBusy(); }));
    QRadioButton* selected = inside<QRadioButton>(filter, "Butterworth");
    QRadioButton* other = inside<QRadioButton>(filter, "Gaussian");
    ASSERT_TRUE(selected && other);
    ASSERT_TRUE(selected->isChecked());
    const QPalette& group = filter->palette();
    for (QPalette::ColorGroup g : {QPalette::Active, QPalette::Inactive}) {
        EXPECT_EQ(selected->palette().color(g, QPalette::WindowText), group.color(g, QPalette::WindowText));
        EXPECT_EQ(other->palette().color(g, QPalette::WindowText), group.color(g, QPalette::PlaceholderText));
    }
    EXPECT_NE(selected->palette().color(QPalette::Active, QPalette::WindowText),
              group.color(QPalette::Disabled, QPalette::WindowText));
}

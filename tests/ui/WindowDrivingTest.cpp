// The real windows driven as a person drives them: clicks, keys and the close shortcut on the
// offscreen platform, against simulated devices; each test asserts what reaches the device and what the
// window then shows.
#include "support/QtPrinters.h"
#include "support/WindowRig.h"
#include "ui/FontConfigurationLoad.h"
#include "ui/ScopePanel.h"
#include "ui/ScopeWidget.h"

#include <QAccessible>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QElapsedTimer>
#include <QFile>
#include <QFontDatabase>
#include <QFontMetrics>
#include <QGroupBox>
#include <QLabel>
#include <QListWidget>
#include <QPrintDialog>
#include <QPrinter>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollArea>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <QWindow>
#include <gtest/gtest.h>
#include <random>
#include <sys/stat.h>

using namespace tarvo;
using namespace tarvo::test;

namespace {
// Runs the program's event loop as main() does; 7 when it has not ended after ms.
int execWithin(int ms) {
    QTimer watchdog;
    watchdog.setSingleShot(true);
    QObject::connect(&watchdog, &QTimer::timeout, [] { QCoreApplication::exit(7); });
    watchdog.start(ms);
    return QApplication::exec();
}
} // namespace

TEST(WindowLife, CaptionReachesTheWindowSystemAndCtrlQEndsTheProgramWithItsOtherWindowsOpen) {
    WindowRig rig;
    rig.lineOn(1);
    rig.start();
    ASSERT_NE(rig.main().windowHandle(), nullptr);
    EXPECT_EQ(rig.main().windowHandle()->title(), "Tarvo  ver.2.0.6");

    // The big display and the "Data" window are top-level windows of their own.
    rig.showPage(Page::Options);
    rig.click(rig.named<QCheckBox>(Page::Options, "Show big display"));

    rig.showPage(Page::Display);
    rig.click(rig.named<QCheckBox>(Page::Display, "Show Last Average"));
    EXPECT_TRUE(rig.windows->bigDisplay().isVisible());
    EXPECT_TRUE(rig.windows->dataWindow().isVisible());

    // Ctrl+Q, pressed while the big display is in front, closes the main window and ends the event
    // loop although the other windows were open.
    QTimer::singleShot(0, [&rig] {
        rig.windows->bigDisplay().activateWindow();
        QTest::keyClick(&rig.windows->bigDisplay(), Qt::Key_Q, Qt::ControlModifier);
    });
    EXPECT_EQ(execWithin(10000), 0);
    EXPECT_FALSE(rig.main().isVisible());
    EXPECT_FALSE(rig.windows->bigDisplay().isVisible());
    EXPECT_FALSE(rig.windows->dataWindow().isVisible());
    EXPECT_TRUE(rig.settingsText().contains("ComNumber=1"));
}

TEST(WindowPorts, ThePortShownUsedAndStoredNameTheSameDevice) {
    // COM1 is a silent line, COM2 a device: choose COM2 by hand, find it, then set it up.
    WindowRig rig;
    devsim::Line& silent = rig.lineOn(1, {}, false);
    devsim::Line& device = rig.lineOn(2);
    // Set-up allows 100 ms of device time per answer: shrunk less, so that a busy machine still answers.
    TimeScale::setFactor(0.2);
    rig.start();
    rig.showPage(Page::Options);
    rig.click(rig.main().optionsComButton(2));
    rig.click(rig.named<QPushButton>(Page::Options, "Find Device"));
    ASSERT_TRUE(rig.searched());
    EXPECT_EQ(rig.controller->discovery().deviceIdentity(), 4110);
    EXPECT_EQ(rig.named<QLabel>(Page::Options, "Port")->text(), "COM2 @ 115200 baud");

    rig.showPage(Page::Mxr41);
    // Showing the page reads the device's settings first.
    ASSERT_TRUE(
        waitFor([&] { return rig.controller->pageControlEnabled() && !rig.controller->link().isBusy(); }));
    silent.clearReceived();
    device.clearReceived();
    rig.click(rig.named<QPushButton>(Page::Mxr41, "Setup MXR"));
    ASSERT_TRUE(waitFor([&] { return device.receivedTexts().contains("SR\r"); }));
    ASSERT_TRUE(rig.searched());
    ASSERT_TRUE(waitFor([&] { return rig.controller->pageControlEnabled(); }));
    // Set-up, reset and the search after it all reached the device the window names.
    EXPECT_TRUE(silent.receivedTexts().isEmpty() || !silent.receivedTexts().contains("SR\r"));
    EXPECT_EQ(rig.controller->link().port().portNumber(), 2);
    EXPECT_TRUE(rig.main().optionsComButton(2)->isChecked());
    EXPECT_EQ(rig.op.boxes, QStringList{});
    rig.main().close();
    EXPECT_TRUE(rig.settingsText().contains("ComNumber=2")) << rig.settingsText().toStdString();
}

TEST(WindowPorts, AnUnpluggedAdapterIsReportedAndTheDeviceIsFoundAgainWhenItIsBack) {
    WindowRig rig;
    devsim::Line& line = rig.lineOn(1);
    rig.start();
    QLabel* info = rig.named<QLabel>(Page::Display, "Display information");
    ASSERT_NE(info, nullptr);

    devsim::SimulatedPorts::unplug(1);
    ASSERT_TRUE(waitFor([&] { return info->text().startsWith("COM1 not available"); }));
    EXPECT_EQ(info->text(), "COM1 not available: device removed");
    // Showing the Display page again does not end the program: only the start-up may.
    rig.showPage(Page::Options);
    rig.showPage(Page::Display);
    QTest::qWait(100);
    EXPECT_TRUE(rig.main().isVisible());
    EXPECT_FALSE(rig.op.boxes.contains(MainController::kNoComPorts));

    devsim::SimulatedPorts::attach(1, &line);
    rig.click(rig.named<QPushButton>(Page::Display, "Find Device"));
    ASSERT_TRUE(rig.searched());
    EXPECT_EQ(info->text(), "Device found at COM1  running 115200baud");
    EXPECT_TRUE(rig.main().isVisible());
}

TEST(WindowRun, RecordingLocksTheControlsThatWouldDisturbItAndFreesThemAfter) {
    WindowRig rig;
    devsim::DeviceConfig config;
    config.identity = 4113;
    rig.lineOn(1, config);
    rig.start();
    ui::ScopePanel* panel = rig.main().scopePanel();
    auto tool = [&](const QString& hint) { return rig.named<QToolButton>(Page::Display, hint); };
    QList<QWidget*> lockedByRun{rig.named<QPushButton>(Page::Display, "Find Device"),
                                rig.named<QPushButton>(Page::Display, "Start autotransmit"),
                                rig.named<QComboBox>(Page::Display, "Autotransmit"),
                                panel->slotButton(2),
                                tool("Zoom in and out"),
                                tool("Redraw graph"),
                                tool("Save graph as *.csv file"),
                                rig.named<QPushButton>(Page::Mxr41, "Setup MXR"),
                                rig.named<QPushButton>(Page::Mxr41, "Load Default")};
    for (QWidget* w : lockedByRun) {
        ASSERT_NE(w, nullptr);
        EXPECT_TRUE(w->isEnabled()) << w->accessibleName().toStdString();
    }

    rig.click(rig.named<QPushButton>(Page::Display, "RUN"));
    ASSERT_TRUE(waitFor([&] { return rig.controller->acquisition().sampleIndex() > 5; }));
    for (QWidget* w : lockedByRun)
        EXPECT_FALSE(w->isEnabled()) << w->accessibleName().toStdString();
    // A click on a locked slot changes nothing: the recording keeps its slot.
    QTest::mouseClick(panel->slotButton(2), Qt::LeftButton);
    EXPECT_EQ(rig.controller->selectedGraphSlot(), 1);

    rig.click(rig.named<QPushButton>(Page::Display, "STOP"));
    ASSERT_TRUE(waitFor([&] { return !rig.controller->link().isBusy(); }));
    for (QWidget* w : lockedByRun)
        EXPECT_TRUE(w->isEnabled()) << w->accessibleName().toStdString();

    // An armed TRIGGER locks the slot choice and Redraw, but leaves the scope's tools to the operator.
    rig.click(rig.named<QPushButton>(Page::Display, "TRIGGER"));
    ASSERT_TRUE(waitFor([&] { return rig.controller->acquisition().state() == Acquisition::State::Arming; }));
    EXPECT_FALSE(panel->slotButton(3)->isEnabled());
    EXPECT_FALSE(tool("Redraw graph")->isEnabled());
    EXPECT_TRUE(tool("Zoom in and out")->isEnabled());
}

TEST(WindowRun, RedrawAfterARunShowsWhatWasRecordedAndLeavesTheRunPanelUsable) {
    WindowRig rig;
    devsim::DeviceConfig config;
    config.updateMs = 20;
    config.weight = 12.5;
    rig.lineOn(1, config);
    rig.start();
    rig.click(rig.named<QPushButton>(Page::Display, "RUN"));
    ASSERT_TRUE(waitFor([&] { return rig.controller->acquisition().sampleIndex() >= 20; }));
    rig.click(rig.named<QPushButton>(Page::Display, "STOP"));
    ASSERT_TRUE(waitFor([&] { return !rig.controller->link().isBusy(); }));
    const int recorded = rig.controller->recordings().slot(1).count;
    ASSERT_GE(recorded, 20);

    const QString before = rig.dir.filePath("before.csv"), after = rig.dir.filePath("after.csv");
    rig.op.saveNames = {before, after};
    auto* csv = rig.named<QToolButton>(Page::Display, "Save graph as *.csv file");
    rig.click(csv);
    EXPECT_EQ(lineCount(before), recorded + 2);

    rig.click(rig.named<QToolButton>(Page::Display, "Redraw graph"));
    EXPECT_EQ(rig.op.boxes, QStringList{});
    EXPECT_EQ(rig.controller->graph().series(1).size(), static_cast<std::size_t>(recorded));
    EXPECT_DOUBLE_EQ(rig.controller->graph().series(1)[0].value, 125.0);
    EXPECT_GT(rig.controller->graph().top(), 125.0);
    EXPECT_LT(rig.controller->graph().bottom(), 125.0);
    rig.click(csv);
    EXPECT_EQ(contents(after), contents(before));
    for (const char* name : {"RUN", "STOP", "PAUSE", "TRIGGER"})
        EXPECT_TRUE(rig.named<QPushButton>(Page::Display, name)->isEnabled()) << name;
}

TEST(WindowStart, PortCaptionNamesThePortAndRateInUseFromTheFirstShow) {
    WindowRig rig(QStringLiteral("[Port]\nBaud=38400\nComNumber=2\n"));
    devsim::DeviceConfig config;
    config.baud = 38400;
    rig.lineOn(2, config);
    rig.start();
    for (Page p : {Page::Options, Page::Terminal, Page::Mxr21, Page::Tcw43}) {
        QLabel* caption = rig.named<QLabel>(p, "Port and baud");
        ASSERT_NE(caption, nullptr);
        EXPECT_EQ(caption->text(), "COM2@38400 baud");
    }
    // Choosing another rate by hand moves the caption with it.
    rig.showPage(Page::Terminal);
    rig.click(rig.named<QRadioButton>(Page::Terminal, "9600"));
    EXPECT_EQ(rig.named<QLabel>(Page::Mxr41, "Port and baud")->text(), "COM2@9600 baud");
}

// The window takes its size from its pages while the caption still says "COM1@9600 baud". Whatever the
// caption says later (the stored rate, a search's progress, a device found on the CAN bus), it is whole,
// and no page that shows it needs more width than then: it would be cut off behind a scroll bar.
TEST(WindowStart, ThePortCaptionIsWholeAndItsPagesNeedNoMoreWidthWhateverItSays) {
    WindowRig rig;
    rig.lineOn(1);
    rig.startAndFind();
    const QSize opened = rig.main().size();
    const QList<Page> pages{Page::Options, Page::Terminal, Page::Mxr41};
    auto pageWidth = [&](Page p) {
        return rig.page(p)->findChild<QScrollArea*>()->widget()->minimumSizeHint().width();
    };
    rig.controller->ports().setPortBaudCaption(QStringLiteral("COM1@9600 baud"));
    QMap<Page, int> widthAtOpening;
    for (Page p : pages) {
        rig.showFamilyPage(p);
        widthAtOpening[p] = pageWidth(p);
    }
    for (const QString& caption : {QStringLiteral("COM1@115200 baud"), QStringLiteral("COM8@115200baud"),
                                   QStringLiteral("CAN_ADDR_126 @ CAN_BAUD_500K")}) {
        rig.controller->ports().setPortBaudCaption(caption);
        for (Page p : pages) {
            rig.showFamilyPage(p);
            QLabel* label = rig.named<QLabel>(p, "Port and baud");
            ASSERT_NE(label, nullptr);
            ASSERT_EQ(label->text(), caption);
            const QRect room = label->contentsRect();
            const QRect text = label->fontMetrics().boundingRect(room, Qt::TextWordWrap, caption);
            EXPECT_LE(text.width(), room.width()) << caption.toStdString() << " on page " << int(p);
            EXPECT_LE(text.height(), room.height()) << caption.toStdString() << " on page " << int(p);
            EXPECT_LE(pageWidth(p), widthAtOpening[p]) << caption.toStdString() << " on page " << int(p);
        }
    }
    EXPECT_EQ(rig.main().size(), opened);
}

// The search's running light shows on the pages with a Find Device button and takes no room from the
// columns beside it: the Options page's columns once jumped aside for as long as a search ran.
TEST(WindowPages, TheSearchLightShowsWhileASearchRunsAndTheColumnsStayPut) {
    WindowRig rig;
    rig.lineOn(1, {}, false); // nobody answers: the search walks every rate
    rig.start();
    for (Page p : {Page::Options, Page::Terminal}) {
        rig.showPage(p);
        QList<QWidget*> columns;
        for (QWidget* w : rig.page(p)->findChildren<QGroupBox*>())
            if (w->isVisible())
                columns << w;
        ASSERT_FALSE(columns.isEmpty());
        QList<QRect> before;
        for (QWidget* w : columns)
            before << w->geometry();
        QWidget* light = rig.named<QProgressBar>(p, "Searching");
        ASSERT_NE(light, nullptr);
        EXPECT_FALSE(light->isVisible());
        bool lightSeen = false;
        QList<QRect> during;
        QTimer look;
        QObject::connect(&look, &QTimer::timeout, [&] {
            if (!rig.controller->discovery().isSearching() || !during.isEmpty())
                return;
            lightSeen = light->isVisible();
            for (QWidget* w : columns)
                during << w->geometry();
        });
        look.start(50);
        rig.click(rig.named<QPushButton>(p, "Find Device"));
        ASSERT_TRUE(rig.searched());
        EXPECT_TRUE(lightSeen) << int(p);
        EXPECT_EQ(during, before) << int(p);
        EXPECT_FALSE(light->isVisible());
    }
}

TEST(WindowStart, StoredCanChoicesAppliedOnceTheWindowIsUpShowOnTheOptionsPage) {
    // The window shows before the port and CAN choices are applied; the Options page follows them.
    WindowRig rig(QStringLiteral(
        "[Port]\nBaud=115200\nComNumber=1\n[CAN]\nCANbus=1\nCANAddress=CAN_ADDR_7\nCANdeviceAddress=3\n"
        "CANspeed=CAN_BAUD_125K\n"));
    rig.lineOn(1);
    rig.start();
    rig.showPage(Page::Options);
    EXPECT_TRUE(rig.named<QWidget>(Page::Options, "CANbus Options")->isVisible());
    EXPECT_EQ(rig.named<QComboBox>(Page::Options, "CAN address")->currentIndex(), 6);
    EXPECT_EQ(rig.named<QComboBox>(Page::Options, "CAN speed")->currentText(), "CAN_BAUD_125K");
    EXPECT_EQ(rig.named<QComboBox>(Page::Options, "Device address")->currentIndex(), 3);
}

TEST(WindowStart, FontConfigurationLoadedAlongsideIsTheOneTextIsMeasuredWith) {
    {
        // A program that ends at once (a window system refusing it) waits for the load, never leaves it
        // running under the ending process.
        ui::FontConfigurationLoad abandoned;
    }
    ui::FontConfigurationLoad load;
    ASSERT_TRUE(load.waitUntilLoaded(30000));
    EXPECT_TRUE(load.waitUntilLoaded(0));
    EXPECT_FALSE(QFontDatabase::families().isEmpty());
    QFont readout;
    readout.setPointSize(36);
    readout.setBold(true);
    EXPECT_GT(QFontMetrics(readout).horizontalAdvance(QStringLiteral("N -00000.000")),
              QFontMetrics(QFont()).horizontalAdvance(QStringLiteral("N -00000.000")));
}

TEST(WindowStart, OnlyTheMainWindowIsMadeAtStartAndALaterWindowShowsWhatIsCurrent) {
    WindowRig rig;
    devsim::DeviceConfig config;
    config.weight = 12.5;
    config.tare = 2.5;
    config.updateMs = 20;
    rig.lineOn(1, config);
    rig.start();
    EXPECT_FALSE(rig.windows->bigDisplayMade());
    EXPECT_FALSE(rig.windows->dataWindowMade());
    EXPECT_FALSE(rig.windows->calibrationWindowMade());
    EXPECT_FALSE(rig.windows->changeValueWindowMade());
    EXPECT_FALSE(rig.main().printerMade());
    QLabel* readout = rig.named<QLabel>(Page::Display, "Readout");
    ASSERT_TRUE(waitFor([&] { return readout->text().startsWith("N "); }));
    // Results kept while the "Data" window did not exist yet.
    DosingMonitor& monitor = rig.controller->dosingMonitor();
    monitor.keepValue("+001.50");
    monitor.keepValue("+002.25");

    rig.showPage(Page::Options);
    rig.click(rig.named<QCheckBox>(Page::Options, "Show big display"));
    ASSERT_TRUE(rig.windows->bigDisplayMade());
    ui::BigDisplayWindow& big = rig.windows->bigDisplay();
    EXPECT_TRUE(big.isVisible());
    EXPECT_EQ(big.text(), rig.controller->readout().text());
    // Made, it follows the readout as before.
    rig.showPage(Page::Display);
    ASSERT_TRUE(waitFor([&] { return big.text().startsWith("N ") && big.text() == readout->text(); }));

    rig.click(rig.named<QCheckBox>(Page::Display, "Show Last Average"));
    ASSERT_TRUE(rig.windows->dataWindowMade());
    EXPECT_TRUE(rig.windows->dataWindow().isVisible());
    QStringList shown;
    for (int i = 0; i < rig.windows->dataWindow().list()->count(); ++i)
        shown << rig.windows->dataWindow().list()->item(i)->text();
    EXPECT_EQ(shown, monitor.dataLines());
    EXPECT_TRUE(shown.join('\n').contains("+002.25"));
}

TEST(WindowDisplay, TheAutotransmitChoiceSwitchesBetweenGrossAndNet) {
    WindowRig rig;
    devsim::DeviceConfig config;
    config.weight = 12.5;
    config.tare = 2.5;
    config.updateMs = 20;
    devsim::Line& line = rig.lineOn(1, config);
    rig.start();
    QLabel* readout = rig.named<QLabel>(Page::Display, "Readout");
    ASSERT_TRUE(waitFor([&] { return readout->text().startsWith("N "); }));

    auto* choice = rig.named<QComboBox>(Page::Display, "Autotransmit");
    ASSERT_NE(choice, nullptr);
    EXPECT_EQ(choice->currentText(), "SN");
    line.clearReceived();
    choice->setFocus();
    QTest::keyClick(choice, Qt::Key_Up);
    ASSERT_TRUE(waitFor([&] { return readout->text().startsWith("G "); }));
    EXPECT_EQ(line.receivedTexts(), (QList<QByteArray>{"\r", "SG\r"}));
    QPushButton* start = rig.named<QPushButton>(Page::Display, "Start autotransmit");
    EXPECT_EQ(start->text(), "Start autotransmit (SG)");
    EXPECT_EQ(accessibleName(start), "Start autotransmit (SG)");
    EXPECT_EQ(rig.controller->link().streamMatcher().startString(), "G");
    rig.main().close();
    EXPECT_TRUE(rig.settingsText().contains("Autotransmit=SG"));
}

TEST(WindowAccessibility, InformationLinesAndValueLabelsAreHeardWithTheirText) {
    WindowRig rig;
    rig.lineOn(1);
    rig.start();
    rig.click(rig.named<QPushButton>(Page::Display, "Find Device"));
    ASSERT_TRUE(rig.searched());
    for (Page p : {Page::Display, Page::Options, Page::Terminal}) {
        QLabel* info = rig.main().page(p)->findChild<QLabel*>(
            rig.main().pages()->tabText(rig.main().pages()->indexOf(rig.page(p))) + " information");
        ASSERT_NE(info, nullptr);
        EXPECT_EQ(accessibleName(info), "Device found at COM1  running 115200baud");
        EXPECT_TRUE(accessibleDescription(info).endsWith("information"));
    }
    EXPECT_EQ(accessibleName(rig.named<QLabel>(Page::Options, "Device")), "Device: 4110");
    EXPECT_EQ(accessibleName(rig.named<QLabel>(Page::Options, "Firmware")), "Firmware: ver.1.00");
    EXPECT_EQ(accessibleName(rig.named<QLabel>(Page::Options, "Port")), "COM1 @ 115200 baud");
    EXPECT_EQ(accessibleName(rig.named<QLabel>(Page::Display, "SampleNr")), "SampleNr: 0");
    EXPECT_EQ(accessibleDescription(rig.named<QLabel>(Page::Display, "SampleNr")), "SampleNr");
}

TEST(WindowPrinting, PrintUsesThePrinterThatPrinterSetupSetUp) {
    WindowRig rig;
    rig.lineOn(1);
    rig.start();
    // "Printer Setup" opens its dialog on the window's printer. The dialog is answered whenever it comes
    // up: on a busy machine it may take longer than any fixed delay.
    QPrinter* shown = nullptr;
    bool acceptNext = false;
    QTimer answer;
    QObject::connect(&answer, &QTimer::timeout, [&] {
        if (auto* dialog = qobject_cast<QPrintDialog*>(QApplication::activeModalWidget())) {
            shown = dialog->printer();
            acceptNext ? dialog->accept() : dialog->reject();
        }
    });
    answer.start(20);
    rig.showPage(Page::Options);
    rig.click(rig.named<QPushButton>(Page::Options, "Printer Setup"));
    EXPECT_EQ(shown, rig.main().printer());

    // What the set-up chose (here: printing to a file) is what "Print graph" prints on.
    const QString pdf = rig.dir.filePath("graph.pdf");
    ASSERT_NE(rig.main().printer(), nullptr);
    rig.main().printer()->setOutputFormat(QPrinter::PdfFormat);
    rig.main().printer()->setOutputFileName(pdf);
    acceptNext = true;
    rig.showPage(Page::Display);
    rig.click(rig.named<QToolButton>(Page::Display, "Print graph"));
    EXPECT_TRUE(contents(pdf).startsWith("%PDF"));

    // A file that cannot be written is said, not taken for a printed page.
    const QString nowhere = rig.dir.filePath("missing/graph.pdf");
    rig.main().printer()->setOutputFileName(nowhere);
    rig.op.boxes.clear();
    rig.click(rig.named<QToolButton>(Page::Display, "Print graph"));
    EXPECT_EQ(rig.op.boxes,
              QStringList{"Print graph: " + nowhere +
                          " could not be written (No such file or directory); nothing was printed."});

    // A pipe would hold the window until something read it, and a device is no file: both are refused
    // at once. The document printed before is still whole: a new one takes its place only when whole.
    const QByteArray printed = contents(pdf);
    const QString pipe = rig.dir.filePath("pipe.pdf");
    ASSERT_EQ(::mkfifo(QFile::encodeName(pipe).constData(), 0600), 0);
    for (const QString& target : {pipe, QStringLiteral("/dev/full")}) {
        rig.main().printer()->setOutputFileName(target);
        rig.op.boxes.clear();
        rig.click(rig.named<QToolButton>(Page::Display, "Print graph"));
        ASSERT_EQ(rig.op.boxes.size(), 1);
        EXPECT_TRUE(rig.op.boxes.first().startsWith("Print graph: " + target + " could not be written ("))
            << rig.op.boxes.first().toStdString();
    }
    EXPECT_EQ(contents(pdf), printed);
    EXPECT_TRUE(printed.trimmed().endsWith("%%EOF"));
}

TEST(WindowScope, TheToolBarAndTheMouseZoomPanAndDrawOnTheScope) {
    WindowRig rig;
    rig.lineOn(1);
    rig.start();
    ui::ScopeWidget* scope = rig.main().scopePanel()->scope();
    GraphModel& graph = rig.controller->graph();
    auto drag = [scope](QPoint from, QPoint to) {
        QTest::mousePress(scope, Qt::LeftButton, {}, from);
        for (int i = 1; i <= 4; ++i)
            QTest::mouseMove(scope, from + (to - from) * i / 4);
        QTest::mouseRelease(scope, Qt::LeftButton, {}, to);
    };
    const QPoint middle = scope->rect().center();

    // Zoom (the default mode): a rectangle narrows the window; twenty tiny ones leave a usable scope.
    const double width = graph.right() - graph.left();
    drag(middle, middle + QPoint(60, 40));
    EXPECT_LT(graph.right() - graph.left(), width / 2);
    for (int i = 0; i < 20; ++i)
        drag(middle, middle + QPoint(5, 5));
    EXPECT_GE(graph.right() - graph.left(), 1.0);
    EXPECT_GE(graph.top() - graph.bottom(), 1.0);
    EXPECT_FALSE(scope->grab().isNull());

    // Pan moves the window by the drag.
    rig.click(rig.named<QToolButton>(Page::Display, "Pan graph / move graph"));
    const double left = graph.left();
    drag(middle, middle + QPoint(-80, 0));
    EXPECT_GT(graph.left(), left);

    // Pencil: a stroke stays on the scope until "Delete last pencil drawing".
    rig.click(rig.named<QToolButton>(Page::Display, "Make pencil and lines drawing"));
    drag(middle, middle + QPoint(40, -30));
    EXPECT_EQ(graph.pencilDrawings().size(), 1);
    rig.click(rig.named<QToolButton>(Page::Display, "Delete last pencil drawing"));
    EXPECT_TRUE(graph.pencilDrawings().isEmpty());

    // While RUN records, the mouse leaves the window alone.
    rig.click(rig.named<QToolButton>(Page::Display, "Zoom in and out"));
    rig.click(rig.named<QPushButton>(Page::Display, "RUN"));
    ASSERT_TRUE(waitFor([&] { return rig.controller->acquisition().sampleIndex() > 0; }));
    const double runLeft = graph.left(), runRight = graph.right();
    drag(middle, middle + QPoint(60, 40));
    EXPECT_EQ(graph.left(), runLeft);
    EXPECT_EQ(graph.right(), runRight);
}

TEST(WindowLife, AWindowManagerCloseDuringARunAlwaysEndsTheProgram) {
    // Closes arrive at random moments of a RUN fed at full rate: inside a transaction's wait, between
    // packets, during a live-draw tick. Each must end the event loop after the recording has stopped.
    std::mt19937 random(20261208);
    const int closes = qEnvironmentVariableIntValue("TARVO_CLOSE_ITERATIONS") > 0
                           ? qEnvironmentVariableIntValue("TARVO_CLOSE_ITERATIONS")
                           : 30;
    for (int i = 0; i < closes; ++i) {
        SCOPED_TRACE(i);
        WindowRig rig;
        devsim::DeviceConfig config;
        config.updateMs = 1;
        config.weight = 12.5;
        devsim::Line& line = rig.lineOn(1, config);
        rig.start();
        rig.click(rig.named<QPushButton>(Page::Display, "RUN"));
        const int delayMs = std::uniform_int_distribution<int>(0, 400)(random);
        QTimer::singleShot(
            delayMs, [&rig] { QCoreApplication::postEvent(rig.main().windowHandle(), new QCloseEvent); });
        ASSERT_EQ(execWithin(10000), 0) << "closed after " << delayMs << " ms";
        EXPECT_FALSE(rig.main().isVisible());
        EXPECT_FALSE(rig.controller->acquisition().runDown());
        // The recording was stopped as STOP stops it: the device was told to go back to its gross stream.
        EXPECT_TRUE(line.receivedTexts().contains("SG\r"));
        EXPECT_TRUE(rig.settingsText().contains("ComNumber=1"));
    }
}

TEST(WindowPages, CtrlTabVisitsTheShownPagesOnlyAndTheFamilyPageOnceTheDeviceIsFound) {
    WindowRig rig;
    rig.lineOn(1);
    rig.start();
    QTabWidget* pages = rig.main().pages();
    auto visit = [&](int presses) {
        QStringList visited;
        for (int i = 0; i < presses; ++i) {
            QTest::keyClick(pages, Qt::Key_Tab, Qt::ControlModifier);
            visited << pages->tabText(pages->currentIndex());
        }
        return visited;
    };
    EXPECT_EQ(visit(5), (QStringList{"Options", "Terminal", "Commands", "Programming", "Display"}));

    rig.click(rig.named<QPushButton>(Page::Display, "Find Device"));
    ASSERT_TRUE(rig.searched());
    QStringList shown;
    for (int i = 1; i <= pages->count(); ++i)
        if (pages->isTabVisible(i % pages->count()))
            shown << pages->tabText(i % pages->count());
    ASSERT_EQ(shown.size(), 6) << shown.join(", ").toStdString(); // the found device's family page too
    EXPECT_EQ(visit(6), shown);
    // Backwards with Shift, and not at all while the page control is locked.
    QTest::keyClick(pages, Qt::Key_Backtab, Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_EQ(pages->tabText(pages->currentIndex()), shown.at(4));
    rig.controller->setPageControlEnabled(false);
    EXPECT_EQ(visit(2), (QStringList{shown.at(4), shown.at(4)}));
    rig.controller->setPageControlEnabled(true);
}

// Find Device pressed on a family page finds a device of another family: the new device's page is shown,
// not whichever tab slid into the old page's place.
TEST(WindowPages, FindDeviceOnAFamilyPageThatFindsAnotherFamilyShowsTheNewDevicesPage) {
    WindowRig rig;
    devsim::Line& line = rig.startOnFamilyPage(4113, Page::Mxr41);
    QTabWidget* pages = rig.main().pages();
    ASSERT_EQ(pages->currentWidget(), rig.page(Page::Mxr41));
    line.devices().front()->setIdentity(6110);
    line.clearReceived();
    rig.click(rig.named<QPushButton>(Page::Mxr41, "Find Device"));
    ASSERT_TRUE(rig.searched());
    ASSERT_TRUE(waitFor([&] { return !rig.controller->link().isBusy(); }));
    EXPECT_EQ(pages->indexOf(rig.page(Page::Mxr41)), -1);
    EXPECT_TRUE(waitFor([&] { return pages->currentWidget() == rig.page(Page::Tcw43); }))
        << pages->tabText(pages->currentIndex()).toStdString();
    // The new page reads its device as any page shown does.
    EXPECT_TRUE(
        waitFor([&] { return line.receivedTexts().contains("FL\r") && !rig.controller->link().isBusy(); }));
}

TEST(WindowLife, ACloseDuringATransactionsWaitIsTakenWhenTheWaitEnds) {
    // A silent line: Find Device waits out every reply. The close comes while a reply is awaited.
    WindowRig rig;
    rig.lineOn(1, {}, false);
    rig.start();
    bool busyAtClose = false;
    bool closedAtOnce = true;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (!rig.controller->link().isBusy())
            return;
        poll.stop();
        busyAtClose = true;
        closedAtOnce = rig.main().close();
    });
    QTimer::singleShot(0, [&] {
        poll.start(1);
        rig.click(rig.named<QPushButton>(Page::Display, "Find Device"));
    });
    ASSERT_EQ(execWithin(30000), 0);
    ASSERT_TRUE(busyAtClose);
    EXPECT_FALSE(closedAtOnce); // the waiting transaction kept the port
    EXPECT_FALSE(rig.main().isVisible());
    EXPECT_FALSE(rig.controller->link().isBusy());
    EXPECT_TRUE(rig.settingsText().contains("ComNumber=1"));
}

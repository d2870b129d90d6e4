#include "TForm1.h"

#include "FileSeparatorGroup.h"
#include "GraphOptionsGroup.h"
#include "SampleOptionsGroup.h"
#include "ScopePanel.h"

#include "protocol/CommandTable.h"

#include <QAction>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QPrintDialog>
#include <QPrinter>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QTabWidget>
#include <QTimer>
#include <QVBoxLayout>

namespace tarvo::ui {

namespace {

QPushButton* button(const QString& caption, QWidget* parent) {
    auto* b = new QPushButton(caption, parent);
    b->setAccessibleName(caption);
    return b;
}

QRadioButton* radio(const QString& caption, QWidget* parent) {
    auto* r = new QRadioButton(caption, parent);
    r->setAccessibleName(caption);
    return r;
}

QLabel* label(const QString& text, QWidget* parent) {
    auto* l = new QLabel(text, parent);
    l->setAccessibleName(text);
    return l;
}

// A label that shows a value (a device answer, a reading, a state): screen readers announce the value
// itself, and the fixed words only describe what it is.
QLabel* valueLabel(const QString& text, QWidget* parent, const QString& what) {
    auto* l = new QLabel(text, parent);
    l->setObjectName(what);
    l->setAccessibleDescription(what);
    return l;
}

// A running light shown while the device search runs.
QProgressBar* activityIndicator(QWidget* parent) {
    auto* bar = new QProgressBar(parent);
    bar->setRange(0, 0);
    bar->setTextVisible(false);
    bar->setMaximumHeight(8);
    bar->setAccessibleName("Searching");
    bar->setVisible(false);
    return bar;
}

} // namespace

TForm1::TForm1(MainController& controller, QtOperator& op, QWidget* parent)
    : QMainWindow(parent), c_(controller), op_(op) {
    setWindowTitle(QString::fromLatin1(MainController::kMainCaption));
    setAcceptDrops(true);
    pages_ = new QTabWidget(this);
    pages_->setAccessibleName("Pages");
    setCentralWidget(pages_);

    addPage(Page::Display, "Display", buildDisplayPage());
    addPage(Page::Options, "Options", buildOptionsPage());
    addPage(Page::Terminal, "Terminal", buildTerminalPage());
    addPage(Page::Mxr21, "MXR 21xx", buildFamilyPage(FamilyPage::Mxr21, "Setup MXR"));
    addPage(Page::Mxr23, "MXR 23xx", buildFamilyPage(FamilyPage::Mxr23, "Setup MXR"));
    addPage(Page::Mxr41, "MXR 41xx", buildFamilyPage(FamilyPage::Mxr41, "Setup MXR"));
    addPage(Page::Tcw43, "TCW 43xx", buildFamilyPage(FamilyPage::Tcw43, "Setup Device"));
    addPage(Page::Commands, "Commands", buildCommandsPage());
    addPage(Page::Programming, "Programming", buildProgrammingPage());
    op_.setParentWindow(this);

    auto* quit = new QAction("Quit", this);
    quit->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));
    // Also from the big display or the "Data" window, which stay on top of this one.
    quit->setShortcutContext(Qt::ApplicationShortcut);
    connect(quit, &QAction::triggered, this, &QWidget::close);
    addAction(quit);

    connect(pages_, &QTabWidget::currentChanged, this, &TForm1::onCurrentPageChanged);
    connect(&c_, &MainController::closeRequested, this,
            [this] { QTimer::singleShot(0, this, &QWidget::close); });
    connect(&c_, &MainController::pageControlEnabledChanged, this,
            [this](bool on) { pages_->tabBar()->setEnabled(on); });
    connect(&c_, &MainController::familyTabsChanged, this, &TForm1::syncFromCore);
    connect(&c_.ports(), &PortSelection::changed, this, &TForm1::syncFromCore);
    connect(&c_.discovery(), &Discovery::changed, this, &TForm1::syncFromCore);
    connect(&c_.ports(), &PortSelection::portBaudCaptionChanged, this, [this](const QString& text) {
        for (QLabel* l : portBaudCaptions_)
            l->setText(text);
    });
    connect(&c_, &MainController::firmwareLoaded, this,
            [this] { firmwareInfo_->setPlainText(c_.firmwareLoader().summaryLines().join(u'\n')); });
    connect(&c_, &MainController::latestVersionChanged, latestVersion_, &QPushButton::setText);
    connect(&c_.readout(), &LiveReadout::textChanged, readout_, &QLabel::setText);
    connect(&c_.readout(), &LiveReadout::autotransmitChanged, this, [this] {
        startAutotransmit_->setText(c_.readout().buttonCaption());
        startAutotransmit_->setAccessibleName(startAutotransmit_->text());
        autotransmit_->setCurrentText(c_.readout().autotransmit());
    });
    connect(startAutotransmit_, &QPushButton::clicked, this,
            [this] { whenIdle([this] { c_.acquisition().StartAutotransmitClick(); }); });
    connect(&c_.acquisition(), &Acquisition::changed, this, &TForm1::syncRunPanel);
    connect(&c_.acquisition(), &Acquisition::changed, this, &TForm1::syncLocks);
    connect(&c_.acquisition(), &Acquisition::lampChanged, this, &TForm1::syncRunPanel);
    // Samples do not signal one by one: the labels follow the scope's refresh.
    connect(&c_.graph(), &GraphModel::repaintRequested, this, &TForm1::syncRunPanel);
    connect(&c_.readout(), &LiveReadout::showBigDisplayChanged, showBigDisplay_, &QCheckBox::setChecked);
    syncFromCore();
}

QWidget* TForm1::addPage(Page page, const QString& title, QWidget* content) {
    auto* holder = new QWidget(pages_);
    auto* layout = new QVBoxLayout(holder);
    layout->addWidget(content, 1);
    auto* info = valueLabel(QString(), holder, title + " information");
    info->setFrameShape(QFrame::StyledPanel);
    layout->addWidget(info);
    op_.setInfoLine(page, info);
    holder->setAccessibleName(title);
    pageWidgets_[static_cast<int>(page)] = holder;
    pages_->addTab(holder, title);
    return holder;
}

QGroupBox* TForm1::buildBaudGroup(std::array<QRadioButton*, 5>& buttons,
                                  const std::function<void(int)>& onClick) {
    auto* group = new QGroupBox("Baudrate");
    auto* layout = new QVBoxLayout(group);
    for (std::size_t i = 0; i < kBaudRates.size(); ++i) {
        const int rate = kBaudRates[i];
        buttons[i] = radio(QString::number(rate), group);
        layout->addWidget(buttons[i]);
        connect(buttons[i], &QRadioButton::clicked, this,
                [this, onClick, rate] { whenIdle([onClick, rate] { onClick(rate); }); });
    }
    return group;
}

QWidget* TForm1::buildDisplayPage() {
    auto* w = new QWidget;
    auto* layout = new QVBoxLayout(w);
    readout_ = valueLabel("", w, "Readout");
    QFont f = readout_->font();
    f.setPointSize(36);
    f.setBold(true);
    readout_->setFont(f);
    layout->addWidget(readout_);
    auto* row = new QHBoxLayout;
    startAutotransmit_ = button(c_.readout().buttonCaption(), w);
    startAutotransmit_->setObjectName("Start autotransmit");
    // Gross ("SG") or net ("SN"): the readout's prefix and the stream the device sends.
    auto* selectionLabel = label("Autotransmit", w);
    autotransmit_ = new QComboBox(w);
    autotransmit_->addItems({"SG", "SN"});
    autotransmit_->setCurrentText(c_.readout().autotransmit());
    autotransmit_->setAccessibleName("Autotransmit");
    autotransmit_->setToolTip("SG = gross    SN = net");
    selectionLabel->setBuddy(autotransmit_);
    connect(autotransmit_, &QComboBox::activated, this, [this](int) {
        const QString chosen = autotransmit_->currentText();
        whenIdle([this, chosen] { c_.acquisition().setAutotransmit(chosen); });
    });
    auto* find = findDeviceButton(w);
    row->addWidget(selectionLabel);
    row->addWidget(autotransmit_);
    row->addWidget(startAutotransmit_);
    row->addWidget(find);
    row->addStretch();
    layout->addLayout(row);
    layout->addWidget(buildRunPanel(w));
    scopePanel_ = new ScopePanel(c_, printer_, w);
    layout->addWidget(scopePanel_, 1);
    return w;
}

QWidget* TForm1::buildRunPanel(QWidget* parent) {
    auto* panel = new QGroupBox("Run", parent);
    auto* layout = new QHBoxLayout(panel);
    Acquisition& a = c_.acquisition();
    auto make = [&](const char* caption, const char* hint) {
        QPushButton* b = button(caption, panel);
        b->setCheckable(true);
        b->setToolTip(hint);
        layout->addWidget(b);
        return b;
    };
    run_ = make("RUN", "Start realtime graph");
    stop_ = make("STOP", "Stop realtime graph");
    pause_ = make("PAUSE", "Pause realtime graph");
    trigger_ = make("TRIGGER", "Start waiting for trigger");
    // The core decides which buttons are down; a click only forwards.
    connect(run_, &QPushButton::clicked, this, [this] { whenIdle([this] { c_.acquisition().RUNClick(); }); });
    connect(stop_, &QPushButton::clicked, this,
            [this] { whenIdle([this] { c_.acquisition().STOPClick(); }); });
    connect(pause_, &QPushButton::clicked, this,
            [this](bool down) { whenIdle([this, down] { c_.acquisition().PAUSEClick(down); }); });
    connect(trigger_, &QPushButton::clicked, this,
            [this](bool down) { whenIdle([this, down] { c_.acquisition().TRIGGERClick(down); }); });
    lamp_ = new QLabel(panel);
    lamp_->setAccessibleName("Status lamp");
    lamp_->setFixedSize(20, 20);
    lamp_->setAutoFillBackground(true);
    lamp_->setToolTip(Acquisition::kLampHint);
    layout->addWidget(lamp_);
    stepTime_ = valueLabel(a.stepTimeLabel(), panel, "StepTime");
    sampleNr_ = valueLabel(a.sampleLabel(), panel, "SampleNr");
    layout->addWidget(stepTime_);
    layout->addWidget(sampleNr_);
    layout->addStretch();
    syncRunPanel();
    return panel;
}

void TForm1::syncRunPanel() {
    const Acquisition& a = c_.acquisition();
    run_->setChecked(a.runDown());
    stop_->setChecked(a.stopDown());
    pause_->setChecked(a.pauseDown());
    trigger_->setChecked(a.triggerDown());
    const bool panel = a.runPanelEnabled();
    for (QPushButton* b : {run_, stop_, pause_, trigger_})
        b->setEnabled(panel);
    static constexpr const char* kLampColours[] = {"lime", "yellow", "red", "red"};
    lamp_->setStyleSheet(QStringLiteral("background-color: %1; border-radius: 10px;")
                             .arg(QLatin1String(kLampColours[static_cast<int>(a.lamp())])));
    stepTime_->setText(a.stepTimeLabel());
    sampleNr_->setText(a.sampleLabel());
}

QWidget* TForm1::buildOptionsPage() {
    auto* w = new QWidget;
    auto* rows = new QVBoxLayout(w);
    auto* layout = new QHBoxLayout;
    rows->addLayout(layout);
    auto* graphRow = new QHBoxLayout;
    sampleOptions_ = new SampleOptionsGroup(c_.acquisition(), w);
    graphOptions_ = new GraphOptionsGroup(c_, w);
    fileSeparator_ = new FileSeparatorGroup(c_.dataFiles(), w);
    graphRow->addWidget(sampleOptions_);
    graphRow->addWidget(graphOptions_);
    graphRow->addWidget(fileSeparator_, 0, Qt::AlignTop);
    rows->addLayout(graphRow);
    auto* com = new QGroupBox("COM port selection", w);
    auto* comLayout = new QVBoxLayout(com);
    for (int n = 1; n <= 8; ++n) {
        optionsCom_[n - 1] = radio(QStringLiteral("COM%1").arg(n), com);
        comLayout->addWidget(optionsCom_[n - 1]);
        connect(optionsCom_[n - 1], &QRadioButton::clicked, this,
                [this, n] { whenIdle([this, n] { c_.ports().rbCOMClick(n); }); });
    }
    rbCAN_ = radio("CAN-bus", com);
    comLayout->addWidget(rbCAN_);
    connect(rbCAN_, &QRadioButton::clicked, this, [this] { whenIdle([this] { c_.ports().rbCANClick(); }); });
    layout->addWidget(com);
    layout->addWidget(buildBaudGroup(optionsBaud_, [this](int rate) { c_.ports().rbBaudClick(rate); }));

    canOptions_ = new QGroupBox("CANbus Options", w);
    auto* can = new QFormLayout(canOptions_);
    auto* node = new QComboBox(canOptions_);
    for (int id = 1; id <= kCanNodeCount; ++id)
        node->addItem(canNodeName(id));
    node->setAccessibleName("CAN address");
    auto* speed = new QComboBox(canOptions_);
    for (const TCANBAUD& rate : kCanBitRates)
        speed->addItem(QString::fromLatin1(rate.name.data(), static_cast<qsizetype>(rate.name.size())));
    speed->setAccessibleName("CAN speed");
    auto* address = new QComboBox(canOptions_);
    for (int a = 0; a < kDeviceAddressCount; ++a)
        address->addItem(QString::number(a));
    address->setAccessibleName("Device address");
    can->addRow("CAN address", node);
    can->addRow("CAN speed", speed);
    can->addRow("Device address", address);
    connect(node, &QComboBox::currentIndexChanged, this, [this](int i) { c_.ports().setCanNodePosition(i); });
    connect(speed, &QComboBox::currentIndexChanged, this,
            [this](int i) { c_.ports().setCanSpeedPosition(i); });
    connect(address, &QComboBox::currentIndexChanged, this,
            [this](int i) { c_.ports().setCanDeviceAddress(i); });
    layout->addWidget(canOptions_);

    auto* right = new QVBoxLayout;
    auto* search = new QCheckBox("Search only selected", w);
    search_ = search;
    search->setAccessibleName("Search only selected");
    connect(search, &QCheckBox::toggled, this, [this](bool on) { c_.ports().setSearchOnlySelected(on); });
    right->addWidget(search);
    showBigDisplay_ = new QCheckBox("Show big display", w);
    showBigDisplay_->setAccessibleName("Show big display");
    connect(showBigDisplay_, &QCheckBox::clicked, this,
            [this](bool on) { c_.readout().setShowBigDisplay(on); });
    right->addWidget(showBigDisplay_);
    deviceLabel_ = valueLabel(c_.discovery().deviceLabel(), w, "Device");
    firmwareLabel_ = valueLabel(c_.discovery().firmwareLabel(), w, "Firmware");
    portLabel_ = valueLabel(c_.discovery().portLabel(), w, "Port");
    right->addWidget(deviceLabel_);
    right->addWidget(firmwareLabel_);
    right->addWidget(portLabel_);
    right->addWidget(label("Device addr:", w));
    deviceAddr_ = new QComboBox(w);
    deviceAddr_->setAccessibleName("Device addr:");
    for (int i = 0; i < kDeviceAddressChoices; ++i)
        deviceAddr_->addItem(deviceAddressChoice(i));
    connect(deviceAddr_, &QComboBox::currentTextChanged, this,
            [this](const QString& text) { c_.discovery().setDeviceAddress(text); });
    right->addWidget(deviceAddr_);
    right->addWidget(findDeviceButton(w));
    auto* printerSetup = button("Printer Setup", w);
    connect(printerSetup, &QPushButton::clicked, this, [this] {
        // The settings chosen here are the ones "Print graph" uses.
        QPrintDialog dialog(&printer_, this);
        dialog.setWindowTitle("Printer Setup");
        dialog.exec();
    });
    right->addWidget(printerSetup);
    latestVersion_ = button(c_.latestVersionCaption(), w);
    connect(latestVersion_, &QPushButton::clicked, this, [this] { c_.LatestVersionClick(); });
    right->addWidget(latestVersion_);
    portBaudCaptions_[0] = valueLabel(c_.ports().portBaudCaption(), w, "Port and baud");
    right->addWidget(portBaudCaptions_[0]);
    right->addWidget(activity_[0] = activityIndicator(w));
    right->addStretch();
    layout->addLayout(right);
    return w;
}

QWidget* TForm1::buildTerminalPage() {
    auto* w = new QWidget;
    auto* layout = new QHBoxLayout(w);
    auto* com = new QGroupBox("COM port", w);
    auto* comLayout = new QVBoxLayout(com);
    for (int n = 1; n <= 8; ++n) {
        terminalCom_[n - 1] = radio(QStringLiteral("COM%1").arg(n), com);
        comLayout->addWidget(terminalCom_[n - 1]);
        connect(terminalCom_[n - 1], &QRadioButton::clicked, this,
                [this, n] { whenIdle([this, n] { c_.ports().rbCOMClick(n); }); });
    }
    layout->addWidget(com);
    layout->addWidget(buildBaudGroup(terminalBaud_, [this](int rate) { c_.ports().rbBaudClick(rate); }));
    auto* right = new QVBoxLayout;
    portBaudCaptions_[1] = valueLabel(c_.ports().portBaudCaption(), w, "Port and baud");
    right->addWidget(portBaudCaptions_[1]);
    right->addWidget(activity_[1] = activityIndicator(w));
    right->addWidget(findDeviceButton(w));
    right->addStretch();
    layout->addLayout(right);
    return w;
}

QWidget* TForm1::buildFamilyPage(FamilyPage family, const QString& setupCaption) {
    auto* w = new QWidget;
    auto* layout = new QHBoxLayout(w);
    layout->addWidget(buildBaudGroup(familyBaud_[static_cast<int>(family)],
                                     [this, family](int rate) { c_.ports().familyBaudClick(family, rate); }));
    auto* right = new QVBoxLayout;
    auto* caption = valueLabel(c_.ports().portBaudCaption(), w, "Port and baud");
    portBaudCaptions_[2 + static_cast<int>(family)] = caption;
    right->addWidget(caption);
    auto* setup = button(setupCaption, w);
    connect(setup, &QPushButton::clicked, this,
            [this] { whenIdle([this] { c_.deviceSetup().btnSetupClick(); }); });
    right->addWidget(setup);
    auto* loadDefault = button("Load Default", w);
    deviceWriteButtons_.push_back(setup);
    deviceWriteButtons_.push_back(loadDefault);
    connect(loadDefault, &QPushButton::clicked, this,
            [this] { whenIdle([this] { c_.deviceSetup().btnLoadDefaultClick(); }); });
    right->addWidget(loadDefault);
    right->addWidget(findDeviceButton(w));
    right->addStretch();
    layout->addLayout(right);
    return w;
}

QWidget* TForm1::buildCommandsPage() {
    return new QWidget;
}

QWidget* TForm1::buildProgrammingPage() {
    auto* w = new QWidget;
    auto* layout = new QVBoxLayout(w);
    layout->addWidget(label("You can Load Firmware by dropping a *.qmf file on the Tarvo window!", w));
    auto* load = button("Load Firmware (*.qmf)", w);
    connect(load, &QPushButton::clicked, this, [this] { c_.LoadFirmwareClick(); });
    layout->addWidget(load);
    firmwareInfo_ = new QPlainTextEdit(w);
    firmwareInfo_->setReadOnly(true);
    firmwareInfo_->setAccessibleName("Firmware file");
    layout->addWidget(firmwareInfo_, 1);
    return w;
}

void TForm1::syncFromCore() {
    const PortSelection& p = c_.ports();
    for (int n = 1; n <= 8; ++n) {
        const QString path = c_.comPortPath(n);
        optionsCom_[n - 1]->setToolTip(path.isEmpty() ? QStringLiteral("no port") : path);
        terminalCom_[n - 1]->setToolTip(optionsCom_[n - 1]->toolTip());
        optionsCom_[n - 1]->setEnabled(c_.portProbed(n));
        terminalCom_[n - 1]->setEnabled(optionsCom_[n - 1]->isEnabled());
        const bool on = !p.canChosen() && p.comChoice() == n;
        if (on) {
            optionsCom_[n - 1]->setChecked(true);
            terminalCom_[n - 1]->setChecked(true);
        }
    }
    if (p.canChosen())
        rbCAN_->setChecked(true);
    canOptions_->setVisible(p.canOptionsVisible());
    for (QProgressBar* bar : activity_)
        bar->setVisible(p.searching());
    for (std::size_t i = 0; i < kBaudRates.size(); ++i) {
        if (kBaudRates[i] == p.baudChoice()) {
            optionsBaud_[i]->setChecked(true);
            terminalBaud_[i]->setChecked(true);
        }
        for (int f = 0; f < kFamilyPages; ++f)
            if (kBaudRates[i] == p.familyBaud(static_cast<FamilyPage>(f)))
                familyBaud_[f][i]->setChecked(true);
    }
    const Page family[] = {Page::Mxr21, Page::Mxr23, Page::Mxr41, Page::Tcw43};
    for (int f = 0; f < kFamilyPages; ++f)
        pages_->setTabVisible(pages_->indexOf(page(family[f])),
                              c_.familyTabVisible(static_cast<FamilyPage>(f)));
    const Discovery& d = c_.discovery();
    for (int f = 0; f < kFamilyPages; ++f)
        pages_->setTabText(pages_->indexOf(page(family[f])), d.familyCaption(static_cast<FamilyPage>(f)));
    if (deviceLabel_) {
        deviceLabel_->setText(d.deviceLabel());
        firmwareLabel_->setText(d.firmwareLabel());
        portLabel_->setText(d.portLabel());
        if (deviceAddr_->currentText() != d.deviceAddress())
            deviceAddr_->setCurrentText(d.deviceAddress());
        search_->setChecked(p.searchOnlySelected());
    }
    syncLocks();
}

void TForm1::syncLocks() {
    // What talks to the device or switches its stream stays locked while a search runs, and while RUN
    // or TRIGGER records: a click there would cut the recording or take its stream.
    const bool free = c_.discovery().buttonGroupEnabled() && !c_.acquisition().buttonGroupLocked();
    for (QPushButton* find : findButtons_)
        find->setEnabled(free);
    for (QPushButton* b : deviceWriteButtons_)
        b->setEnabled(free);
    startAutotransmit_->setEnabled(free);
    autotransmit_->setEnabled(free);
}

QPushButton* TForm1::findDeviceButton(QWidget* parent) {
    auto* find = button("Find Device", parent);
    connect(find, &QPushButton::clicked, this,
            [this] { whenIdle([this] { c_.discovery().btnFindDeviceClick(); }); });
    findButtons_.push_back(find);
    return find;
}

void TForm1::whenIdle(std::function<void()> action) {
    // A click that talks to the device or changes the port waits for a running transaction to end;
    // it never takes over the matcher of a transaction that is still waiting for its reply.
    c_.comm().runWhenIdle(std::move(action));
}

void TForm1::showEvent(QShowEvent* event) {
    QMainWindow::showEvent(event);
    if (shown_)
        return;
    shown_ = true;
    // The settings were restored after the window was built; show them.
    sampleOptions_->sync();
    graphOptions_->sync();
    fileSeparator_->sync();
    scopePanel_->sync();
    // The Display page's show handler runs once the window is on screen: the first device contact.
    QTimer::singleShot(0, this, [this] { c_.TabSheet1Show(); });
}

void TForm1::onCurrentPageChanged(int index) {
    QWidget* now = pages_->widget(index);
    if (pages_->widget(previousPage_) == page(Page::Display) && now != page(Page::Display))
        c_.TabSheet1Hide();
    if (now == page(Page::Display))
        c_.TabSheet1Show();
    else if (now == page(Page::Options))
        c_.TabSheet2Show();
    previousPage_ = index;
}

void TForm1::closeEvent(QCloseEvent* event) {
    c_.FormDestroy();
    event->accept();
    emit closed();
}

void TForm1::dragEnterEvent(QDragEnterEvent* event) {
    if (c_.acceptsDroppedFiles() && event->mimeData()->hasUrls())
        event->acceptProposedAction();
}

void TForm1::dropEvent(QDropEvent* event) {
    QStringList paths;
    for (const QUrl& url : event->mimeData()->urls())
        if (url.isLocalFile())
            paths << url.toLocalFile().left(255);
    c_.AcceptFiles(paths);
    event->acceptProposedAction();
}

} // namespace tarvo::ui

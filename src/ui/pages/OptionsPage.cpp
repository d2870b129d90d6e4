#include "OptionsPage.h"

#include "app/MainController.h"
#include "protocol/CommandTable.h"
#include "ui/FileSeparatorGroup.h"
#include "ui/GraphOptionsGroup.h"
#include "ui/LazyPrinter.h"
#include "ui/PictureOutput.h"
#include "ui/SampleOptionsGroup.h"
#include "ui/widgets/BaudGroup.h"
#include "ui/widgets/ComPortGroup.h"
#include "ui/widgets/Controls.h"
#include "ui/widgets/FindDeviceButton.h"
#include "ui/widgets/PortBaudCaption.h"
#include "ui/widgets/SearchActivity.h"
#include "ui/widgets/ValueLabel.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QVBoxLayout>

namespace tarvo::ui {

OptionsPage::OptionsPage(MainController& controller, LazyPrinter& printer, QWidget* parent)
    : QWidget(parent), c_(controller), printer_(printer) {
    auto* rows = new QVBoxLayout(this);
    auto* layout = new QHBoxLayout;
    rows->addLayout(layout);
    auto* graphRow = new QHBoxLayout;
    sampleOptions_ = new SampleOptionsGroup(c_.acquisition().options(), this);
    graphOptions_ = new GraphOptionsGroup(c_, this);
    fileSeparator_ = new FileSeparatorGroup(c_.dataFiles(), this);
    graphRow->addWidget(sampleOptions_);
    graphRow->addWidget(graphOptions_);
    graphRow->addWidget(fileSeparator_, 0, Qt::AlignTop);
    rows->addLayout(graphRow);

    comPorts_ = new ComPortGroup("COM port selection", true, c_, this);
    layout->addWidget(comPorts_);
    baud_ = new BaudGroup(this);
    connect(baud_, &BaudGroup::rateClicked, this,
            [this](int rate) { whenLinkIdle(c_, [this, rate] { c_.ports().baudClicked(rate); }); });
    layout->addWidget(baud_);

    canOptions_ = new QGroupBox("CANbus Options", this);
    canOptions_->setAccessibleName("CANbus Options");
    auto* can = new QFormLayout(canOptions_);
    canNode_ = new QComboBox(canOptions_);
    for (int id = 1; id <= kCanNodeCount; ++id)
        canNode_->addItem(canNodeName(id));
    canNode_->setAccessibleName("CAN address");
    canSpeed_ = new QComboBox(canOptions_);
    for (const CanBitRate& rate : kCanBitRates)
        canSpeed_->addItem(QString::fromLatin1(rate.name.data(), static_cast<qsizetype>(rate.name.size())));
    canSpeed_->setAccessibleName("CAN speed");
    canDeviceAddress_ = new QComboBox(canOptions_);
    for (int a = 0; a < kDeviceAddressCount; ++a)
        canDeviceAddress_->addItem(QString::number(a));
    canDeviceAddress_->setAccessibleName("Device address");
    can->addRow("CAN address", canNode_);
    can->addRow("CAN speed", canSpeed_);
    can->addRow("Device address", canDeviceAddress_);
    connect(canNode_, &QComboBox::activated, this,
            [this](int i) { whenLinkIdle(c_, [this, i] { c_.ports().setCanNodePosition(i); }); });
    // Another speed closes the CAN interface and shows its register value.
    connect(canSpeed_, &QComboBox::activated, this,
            [this](int i) { whenLinkIdle(c_, [this, i] { c_.ports().canSpeedClicked(i); }); });
    connect(canDeviceAddress_, &QComboBox::activated, this,
            [this](int i) { whenLinkIdle(c_, [this, i] { c_.ports().setCanDeviceAddress(i); }); });
    layout->addWidget(canOptions_);

    auto* right = new QVBoxLayout;
    searchOnlySelected_ = new QCheckBox("Search only selected", this);
    searchOnlySelected_->setAccessibleName("Search only selected");
    onOperatorToggle(searchOnlySelected_, this, [this](bool on) { c_.ports().setSearchOnlySelected(on); });
    right->addWidget(searchOnlySelected_);
    showBigDisplay_ = new QCheckBox("Show big display", this);
    showBigDisplay_->setAccessibleName("Show big display");
    onOperatorToggle(showBigDisplay_, this, [this](bool on) { c_.readout().setShowBigDisplay(on); });
    connect(&c_.readout(), &LiveReadout::showBigDisplayChanged, showBigDisplay_,
            [this](bool on) { showChecked(showBigDisplay_, on); });
    right->addWidget(showBigDisplay_);
    deviceLabel_ = new ValueLabel(c_.discovery().deviceLabel(), "Device", this);
    firmwareLabel_ = new ValueLabel(c_.discovery().firmwareLabel(), "Firmware", this);
    portLabel_ = new ValueLabel(c_.discovery().portLabel(), "Port", this);
    right->addWidget(deviceLabel_);
    right->addWidget(firmwareLabel_);
    right->addWidget(portLabel_);
    auto* addressLabel = new QLabel("Device addr:", this);
    right->addWidget(addressLabel);
    deviceAddress_ = new QComboBox(this);
    deviceAddress_->setAccessibleName("Device addr:");
    addressLabel->setBuddy(deviceAddress_);
    for (int i = 0; i < kDeviceAddressChoices; ++i)
        deviceAddress_->addItem(deviceAddressChoice(i));
    connect(deviceAddress_, &QComboBox::activated, this,
            [this](int) { c_.discovery().setDeviceAddress(deviceAddress_->currentText()); });
    right->addWidget(deviceAddress_);
    right->addWidget(new FindDeviceButton(c_, this));
    auto* printerSetup = captionedButton("Printer Setup", this);
    connect(printerSetup, &QPushButton::clicked, this, [this] {
        // The settings chosen here are the ones "Print graph" uses.
        QString problem;
        if (QPrinter* chosen = printer_.get(&problem))
            PictureOutput::load(nullptr)->setUpPrinter(*chosen, this);
        else
            c_.op().showMessage(problem);
    });
    right->addWidget(printerSetup);
    latestVersion_ = captionedButton(c_.latestVersionCaption(), this);
    connect(latestVersion_, &QPushButton::clicked, this, [this] { c_.latestVersionClicked(); });
    connect(&c_, &MainController::latestVersionChanged, latestVersion_, [this](const QString& caption) {
        latestVersion_->setText(caption);
        latestVersion_->setAccessibleName(caption);
    });
    right->addWidget(latestVersion_);
    right->addWidget(new PortBaudCaption(c_.ports(), this));
    right->addWidget(new SearchActivity(c_.ports(), this));
    right->addStretch();
    layout->addLayout(right);

    connect(&c_.ports(), &PortSelection::changed, this, &OptionsPage::sync);
    connect(&c_.discovery(), &Discovery::changed, this, &OptionsPage::sync);
    sync();
}

void OptionsPage::sync() {
    const PortSelection& p = c_.ports();
    baud_->showRate(p.baudChoice());
    canOptions_->setVisible(p.canOptionsVisible());
    canNode_->setCurrentIndex(p.canNodePosition());
    canSpeed_->setCurrentIndex(p.canSpeedPosition());
    canDeviceAddress_->setCurrentIndex(p.canDeviceAddress());
    showChecked(searchOnlySelected_, p.searchOnlySelected());
    const Discovery& d = c_.discovery();
    deviceLabel_->setText(d.deviceLabel());
    firmwareLabel_->setText(d.firmwareLabel());
    portLabel_->setText(d.portLabel());
    deviceAddress_->setCurrentText(d.deviceAddress());
}

void OptionsPage::showRestoredSettings() {
    sampleOptions_->sync();
    graphOptions_->sync();
    fileSeparator_->sync();
    sync();
}

} // namespace tarvo::ui

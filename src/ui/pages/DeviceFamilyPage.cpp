#include "DeviceFamilyPage.h"

#include "AverageGroup.h"
#include "ModeLevelRateGroup.h"
#include "ParameterGroup.h"
#include "TrackBarFilterGroup.h"
#include "app/MainController.h"
#include "measure/FilterAdvisor.h"
#include "ui/FilterAdvisorDialog.h"
#include "ui/widgets/BaudGroup.h"
#include "ui/widgets/Controls.h"
#include "ui/widgets/FindDeviceButton.h"
#include "ui/widgets/PortBaudCaption.h"
#include "ui/widgets/ValueLabel.h"

#include <QGroupBox>
#include <QHBoxLayout>
#include <QVBoxLayout>

namespace tarvo::ui {

DeviceFamilyPage::DeviceFamilyPage(FamilyPage family, MainController& controller, QWidget* parent)
    : QWidget(parent), family_(family), c_(controller) {
    auto* layout = new QHBoxLayout(this);
    baud_ = new BaudGroup(this);
    connect(baud_, &BaudGroup::rateClicked, this, [this](int rate) {
        whenLinkIdle(c_, [this, rate] { c_.ports().familyBaudClicked(family_, rate); });
    });
    layout->addWidget(baud_);

    auto* groups = new QVBoxLayout;
    switch (family) {
    case FamilyPage::Mxr21:
        trackBarFilter_ = new TrackBarFilterGroup(TrackBarFilter::Family::Mxr21, c_, this);
        groups->addWidget(trackBarFilter_);
        break;
    case FamilyPage::Mxr23:
        trackBarFilter_ = new TrackBarFilterGroup(TrackBarFilter::Family::Mxr23, c_, this);
        groups->addWidget(trackBarFilter_);
        break;
    case FamilyPage::Mxr41:
        addMxr41Groups(groups);
        break;
    case FamilyPage::Tcw43:
        addTcw43Groups(groups);
        break;
    }
    groups->addStretch();
    layout->addLayout(groups, 1);

    auto* right = new QVBoxLayout;
    right->addWidget(new PortBaudCaption(c_.ports(), this));
    setup_ = captionedButton(family == FamilyPage::Tcw43 ? "Setup Device" : "Setup MXR", this);
    connect(setup_, &QPushButton::clicked, this,
            [this] { whenLinkIdle(c_, [this] { c_.deviceSetup().setupClicked(); }); });
    right->addWidget(setup_);
    loadDefault_ = captionedButton("Load Default", this);
    connect(loadDefault_, &QPushButton::clicked, this,
            [this] { whenLinkIdle(c_, [this] { c_.deviceSetup().loadDefaultClicked(); }); });
    right->addWidget(loadDefault_);
    calibrate_ = captionedButton(family == FamilyPage::Tcw43 ? "Calibrate" : "Calibrate MXR", this);
    connect(calibrate_, &QPushButton::clicked, this,
            [this] { whenLinkIdle(c_, [this] { c_.calibrationWizard().calibrateClicked(); }); });
    right->addWidget(calibrate_);
    filterAdvisor_ = captionedButton("Filter advisor...", this);
    connect(filterAdvisor_, &QPushButton::clicked, this, [this] {
        // One dialog at a time; it lives until the page goes.
        auto* dialog = findChild<FilterAdvisorDialog*>();
        if (!dialog)
            dialog = new FilterAdvisorDialog(c_, this);
        dialog->show();
        dialog->raise();
    });
    right->addWidget(filterAdvisor_);
    right->addWidget(new FindDeviceButton(c_, this));
    right->addStretch();
    layout->addLayout(right);

    connect(&c_.ports(), &PortSelection::changed, this, &DeviceFamilyPage::sync);
    connect(&c_.discovery(), &Discovery::changed, this, &DeviceFamilyPage::sync);
    connect(&c_.acquisition(), &Acquisition::changed, this, &DeviceFamilyPage::sync);
    connect(&c_.familyPages(), &FamilyPages::changed, this, &DeviceFamilyPage::syncGroups);
    connect(&c_.checkWeigher(), &CheckWeigherParameters::changed, this, &DeviceFamilyPage::syncGroups);
    connect(&c_.dosingParameters(), &DosingParameters::changed, this, &DeviceFamilyPage::syncGroups);
    if (family == FamilyPage::Tcw43)
        connect(&c_.familyPages(), &FamilyPages::tcw43PageReshown, this, [this] { setEnabled(true); });
    sync();
    syncGroups();
}

void DeviceFamilyPage::addMxr41Groups(QVBoxLayout* column) {
    modeLevelRate_ = new ModeLevelRateGroup(c_.filterSettings(FamilyPage::Mxr41), c_, this);
    column->addWidget(modeLevelRate_);
    trackBarFilter_ = new TrackBarFilterGroup(TrackBarFilter::Family::Mxr4110, c_, this);
    column->addWidget(trackBarFilter_);

    CheckWeigherParameters& cw = c_.checkWeigher();
    checkWeigher_ = new ParameterGroup("Check-Weigher", cw.mxr41(), c_, this);
    auto* edges = new QHBoxLayout;
    trailingEdge_ = captionedOption("TE", checkWeigher_);
    trailingEdge_->setToolTip("Trig on Trailing Edge");
    leadingEdge_ = captionedOption("LE", checkWeigher_);
    leadingEdge_->setToolTip("Trig on Leading Edge");
    onOperatorChoice(trailingEdge_, this, [&cw] { cw.edgeClicked(CheckWeigherParameters::Edge::Trailing); });
    onOperatorChoice(leadingEdge_, this, [&cw] { cw.edgeClicked(CheckWeigherParameters::Edge::Leading); });
    edges->addWidget(trailingEdge_);
    edges->addWidget(leadingEdge_);
    checkWeigher_->extras()->addLayout(edges);
    SetupTransfer& files = c_.setupTransfer();
    checkWeigher_->addButton("Read Cmd.", [&cw] { cw.readMxr41Clicked(); });
    checkWeigher_->addButton("Write Cmd.", [&cw] { cw.writeMxr41Clicked(); });
    checkWeigher_->addButton("Import", [&files] { files.importClicked(SetupGroup::CheckWeigher); });
    checkWeigher_->addButton("Export", [&files] { files.exportClicked(SetupGroup::CheckWeigher); });
    column->addWidget(checkWeigher_);
    average_ = new AverageGroup(FamilyPage::Mxr41, c_, this);
    column->addWidget(average_);

    DosingParameters& dp = c_.dosingParameters();
    using Group = DosingParameters::Group;
    dosing_ = new ParameterGroup("Dosing Commands", dp.dosing(), c_, this);
    updateTime_ = new ValueLabel(dp.updateTimeText(), "Dosing update time", dosing_);
    dosing_->extras()->addWidget(updateTime_);
    dosing_->addButton("Read Dosing Cmd.", [&dp] { dp.readClicked(Group::Dosing); });
    dosing_->addButton("Write Dosing Cmd.", [&dp] { dp.writeClicked(Group::Dosing); });
    dosing_->addButton("Import", [&files] { files.importClicked(SetupGroup::Dosing); });
    dosing_->addButton("Export", [&files] { files.exportClicked(SetupGroup::Dosing); });
    column->addWidget(dosing_);

    lossWeigher_ = new ParameterGroup("Loss Weigher", dp.lossWeigher(), c_, this);
    lossWeigher_->addButton("Read Loss Cmd.", [&dp] { dp.readClicked(Group::LossWeigher); });
    // The loss weigher's write button has always been captioned like the dosing one.
    lossWeigher_->addButton("Write Dosing Cmd.", [&dp] { dp.writeClicked(Group::LossWeigher); });
    column->addWidget(lossWeigher_);
}

void DeviceFamilyPage::addTcw43Groups(QVBoxLayout* column) {
    modeLevelRate_ = new ModeLevelRateGroup(c_.filterSettings(FamilyPage::Tcw43), c_, this);
    column->addWidget(modeLevelRate_);
    CheckWeigherParameters& cw = c_.checkWeigher();
    checkWeigher_ = new ParameterGroup("Check-Weigher", cw.tcw43(), c_, this);
    checkWeigher_->addButton("Read Check-Weigher Cmd.", [&cw] { cw.readTcw43Clicked(); });
    checkWeigher_->addButton("Write Check-Weigher Cmd.", [&cw] { cw.writeTcw43Clicked(); });
    column->addWidget(checkWeigher_);
    average_ = new AverageGroup(FamilyPage::Tcw43, c_, this);
    column->addWidget(average_);

    auto* configuration = new QGroupBox("TCW Configuration", this);
    configuration->setAccessibleName("TCW Configuration");
    auto* box = new QVBoxLayout(configuration);
    configuration_ = new ValueLabel(QString(), "TCW Configuration text", configuration);
    configuration_->setWordWrap(true);
    box->addWidget(configuration_);
    QPushButton* refresh = captionedButton("Refresh", configuration);
    connect(refresh, &QPushButton::clicked, this,
            [this, &cw] { whenLinkIdle(c_, [&cw] { cw.refreshClicked(); }); });
    connect(&c_, &MainController::pageControlEnabledChanged, refresh, &QWidget::setEnabled);
    box->addWidget(refresh);
    column->addWidget(configuration);
}

void DeviceFamilyPage::sync() {
    baud_->showRate(c_.ports().familyBaud(family_));
    // Set-up and defaults reset the device: not while a search runs or a recording takes its stream.
    const bool free = deviceButtonsFree(c_);
    setup_->setEnabled(free);
    loadDefault_->setEnabled(free);
    calibrate_->setEnabled(free);
    filterAdvisor_->setEnabled(free && FilterAdvisor::hasFilterSettings(c_.discovery().deviceIdentity()));
}

void DeviceFamilyPage::syncGroups() {
    if (family_ == FamilyPage::Mxr41) {
        const FamilyPages::Mxr41Groups& shown = c_.familyPages().mxr41Groups();
        modeLevelRate_->setVisible(shown.modeLevelRate);
        trackBarFilter_->setVisible(shown.trackBarFilter);
        checkWeigher_->setVisible(shown.checkWeigher);
        average_->setVisible(shown.checkWeigher);
        dosing_->setVisible(shown.dosing);
        lossWeigher_->setVisible(shown.lossWeigher);
        const CheckWeigherParameters::Edge edge = c_.checkWeigher().edge();
        showSelection({trailingEdge_, leadingEdge_}, edge == CheckWeigherParameters::Edge::Trailing  ? 0
                                                     : edge == CheckWeigherParameters::Edge::Leading ? 1
                                                                                                     : -1);
        updateTime_->setText(c_.dosingParameters().updateTimeText());
    } else if (family_ == FamilyPage::Tcw43) {
        modeLevelRate_->setVisible(c_.familyPages().tcw43FilterVisible());
        configuration_->setText(c_.checkWeigher().configurationText());
    }
}

} // namespace tarvo::ui

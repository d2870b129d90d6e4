#include "SampleOptionsGroup.h"

#include "measure/SampleOptions.h"
#include "widgets/Controls.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>

namespace tarvo::ui {

SampleOptionsGroup::SampleOptionsGroup(SampleOptions& options, QWidget* parent)
    : QGroupBox("Sample options", parent), options_(options) {
    auto* form = new QFormLayout(this);
    triggerLevel_ = new QLineEdit(this);
    triggerLevel_->setAccessibleName("Trigger level, counts");
    sampleTime_ = new QLineEdit(this);
    sampleTime_->setAccessibleName("Sample time, ms");
    waitForTrigger_ = new QComboBox(this);
    waitForTrigger_->addItems(SampleOptions::waitForTriggerTexts());
    waitForTrigger_->setAccessibleName("Wait for trigger");
    longTerm_ = new QCheckBox("Enable", this);
    longTerm_->setAccessibleName("Long-term sample enable");
    useEvery_ = new QComboBox(this);
    useEvery_->addItems(SampleOptions::useEveryTexts());
    useEvery_->setAccessibleName("Use every N-th sample");
    useStatus_ = new QCheckBox("Use Status Information", this);
    useStatus_->setAccessibleName("Use Status Information");
    retrig_ = new QCheckBox("Retrig after draw", this);
    retrig_->setAccessibleName("Retrig after draw");
    form->addRow("Trigger level, counts", triggerLevel_);
    form->addRow("Sample time, ms", sampleTime_);
    form->addRow(new QLabel("(Max 500.000 samples)", this));
    form->addRow("Wait for trigger", waitForTrigger_);
    form->addRow("Long-term sampling", longTerm_);
    form->addRow("Use every", useEvery_);
    form->addRow(useStatus_);
    form->addRow(retrig_);

    onOperatorEdit(triggerLevel_, this, [this](const QString& t) { options_.triggerLevelEdited(t); });
    onOperatorEdit(sampleTime_, this, [this](const QString& t) { options_.sampleTimeEdited(t); });
    connect(waitForTrigger_, &QComboBox::activated, this, [this](int i) { options_.setWaitForTrigger(i); });
    onOperatorToggle(longTerm_, this, [this](bool on) { options_.setLongTermSampleEnable(on); });
    connect(useEvery_, &QComboBox::activated, this, [this](int i) { options_.setUseEvery(i); });
    onOperatorToggle(useStatus_, this, [this](bool on) { options_.setUseStatusInformation(on); });
    onOperatorToggle(retrig_, this, [this](bool on) { options_.setRetrigAfterDraw(on); });
    sync();
}

void SampleOptionsGroup::sync() {
    if (!triggerLevel_->hasFocus())
        showText(triggerLevel_, options_.triggerLevelText());
    if (!sampleTime_->hasFocus())
        showText(sampleTime_, options_.sampleTimeText());
    waitForTrigger_->setCurrentIndex(options_.waitForTrigger());
    showChecked(longTerm_, options_.longTermSampleEnable());
    useEvery_->setCurrentIndex(options_.useEvery());
    showChecked(useStatus_, options_.useStatusInformation());
    showChecked(retrig_, options_.retrigAfterDraw());
}

} // namespace tarvo::ui

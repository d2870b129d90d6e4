#include "SampleOptionsGroup.h"

#include "measure/Acquisition.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>

namespace tarvo::ui {

SampleOptionsGroup::SampleOptionsGroup(Acquisition& acquisition, QWidget* parent)
    : QGroupBox("Sample options", parent), a_(acquisition) {
    auto* form = new QFormLayout(this);
    triggerLevel_ = new QLineEdit(this);
    triggerLevel_->setAccessibleName("Trigger level, counts");
    sampleTime_ = new QLineEdit(this);
    sampleTime_->setAccessibleName("Sample time, ms");
    waitForTrigger_ = new QComboBox(this);
    waitForTrigger_->addItems(Acquisition::waitForTriggerTexts());
    waitForTrigger_->setAccessibleName("Wait for trigger");
    longTerm_ = new QCheckBox("Enable", this);
    longTerm_->setAccessibleName("Long-term sample enable");
    useEvery_ = new QComboBox(this);
    useEvery_->addItems(Acquisition::useEveryTexts());
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

    connect(triggerLevel_, &QLineEdit::textEdited, this,
            [this](const QString& t) { a_.triggerLevelEdited(t); });
    connect(sampleTime_, &QLineEdit::textEdited, this, [this](const QString& t) { a_.sampleTimeEdited(t); });
    connect(waitForTrigger_, &QComboBox::activated, this, [this](int i) { a_.setWaitForTrigger(i); });
    connect(longTerm_, &QCheckBox::clicked, this, [this](bool on) { a_.setLongTermSampleEnable(on); });
    connect(useEvery_, &QComboBox::activated, this, [this](int i) { a_.setUseEvery(i); });
    connect(useStatus_, &QCheckBox::clicked, this, [this](bool on) { a_.setUseStatusInformation(on); });
    connect(retrig_, &QCheckBox::clicked, this, [this](bool on) { a_.setRetrigAfterDraw(on); });
    sync();
}

void SampleOptionsGroup::sync() {
    if (!triggerLevel_->hasFocus())
        triggerLevel_->setText(a_.triggerLevelText());
    if (!sampleTime_->hasFocus())
        sampleTime_->setText(a_.sampleTimeText());
    waitForTrigger_->setCurrentIndex(a_.waitForTrigger());
    longTerm_->setChecked(a_.longTermSampleEnable());
    useEvery_->setCurrentIndex(a_.useEvery());
    useStatus_->setChecked(a_.useStatusInformation());
    retrig_->setChecked(a_.retrigAfterDraw());
}

} // namespace tarvo::ui

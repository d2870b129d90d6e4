#include "ModeLevelRateGroup.h"

#include "app/MainController.h"
#include "config/FilterSettings.h"
#include "ui/widgets/Controls.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

namespace tarvo::ui {

ModeLevelRateGroup::ModeLevelRateGroup(FilterSettings& filter, MainController& controller, QWidget* parent)
    : QGroupBox("Filter", parent), filter_(filter), c_(controller) {
    setAccessibleName("Filter");
    auto* layout = new QHBoxLayout(this);

    modeBox_ = new QGroupBox("Filter mode", this);
    modeBox_->setAccessibleName("Filter mode");
    auto* modeLayout = new QVBoxLayout(modeBox_);
    const char* modeCaptions[] = {"IIR", "FIR"};
    for (int m = 0; m < 2; ++m) {
        QRadioButton* option = captionedOption(modeCaptions[m], modeBox_);
        modeLayout->addWidget(option);
        modes_ << option;
        onOperatorChoice(option, this,
                         [this, m] { whenLinkIdle(c_, [this, m] { filter_.modeClicked(m); }); });
    }
    modeLayout->addStretch();
    layout->addWidget(modeBox_);

    auto* levelBox = new QGroupBox("Cut-off level", this);
    levelBox->setAccessibleName("Cut-off level");
    auto* levelLayout = new QVBoxLayout(levelBox);
    for (int l = 0; l < filter_tables::kLevels; ++l) {
        auto* option = new QRadioButton(levelBox);
        // The caption changes with the mode; the object name stays.
        option->setObjectName(QStringLiteral("Level %1").arg(l));
        levelLayout->addWidget(option);
        levels_ << option;
        onOperatorChoice(option, this,
                         [this, l] { whenLinkIdle(c_, [this, l] { filter_.levelClicked(l); }); });
    }
    layout->addWidget(levelBox);

    auto* rateBox = new QGroupBox("Update rate", this);
    rateBox->setAccessibleName("Update rate");
    auto* rateLayout = new QGridLayout(rateBox);
    for (int r = 0; r < filter_tables::kRates; ++r) {
        auto* option = new QRadioButton(rateBox);
        option->setObjectName(QStringLiteral("Rate %1").arg(r));
        rateLayout->addWidget(option, r, 0);
        rates_ << option;
        onOperatorChoice(option, this,
                         [this, r] { whenLinkIdle(c_, [this, r] { filter_.rateClicked(r); }); });
    }
    rateLayout->addWidget(new QLabel("Samples/sec.", rateBox), 0, 1);
    layout->addWidget(rateBox);

    connect(&filter_, &FilterSettings::changed, this, &ModeLevelRateGroup::sync);
    connect(&c_, &MainController::pageControlEnabledChanged, this, &ModeLevelRateGroup::sync);
    sync();
}

void ModeLevelRateGroup::sync() {
    modeBox_->setVisible(filter_.modeGroupVisible());
    for (int l = 0; l < levels_.size(); ++l) {
        levels_[l]->setText(filter_.levelCaption(l));
        levels_[l]->setAccessibleName(filter_.levelCaption(l));
    }
    for (int r = 0; r < rates_.size(); ++r) {
        rates_[r]->setText(filter_.rateCaption(r));
        rates_[r]->setAccessibleName(filter_.rateCaption(r));
    }
    showSelection(modes_, filter_.mode());
    showSelection(levels_, filter_.level());
    showSelection(rates_, filter_.rate());
    // Every option talks to the device: none while another exchange holds the page control.
    setEnabled(c_.pageControlEnabled());
}

} // namespace tarvo::ui

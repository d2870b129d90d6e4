#include "DisplayPage.h"

#include "app/MainController.h"
#include "ui/RunPanel.h"
#include "ui/ScopePanel.h"
#include "ui/widgets/Controls.h"
#include "ui/widgets/FindDeviceButton.h"
#include "ui/widgets/ValueLabel.h"

#include <QComboBox>
#include <QHBoxLayout>
#include <QVBoxLayout>

namespace tarvo::ui {

DisplayPage::DisplayPage(MainController& controller, LazyPrinter& printer, QWidget* parent)
    : QWidget(parent), c_(controller) {
    auto* layout = new QVBoxLayout(this);
    readout_ = new ValueLabel("", "Readout", this);
    QFont f = readout_->font();
    f.setPointSize(36);
    f.setBold(true);
    readout_->setFont(f);
    // A streaming readout changes many times a second. Of fixed size, a new text repaints the readout
    // alone instead of sending the page through a layout pass, which repaints the whole tab.
    readout_->setFixedSize(readout_->fontMetrics().horizontalAdvance(QStringLiteral("N -00000.000  ")),
                           readout_->fontMetrics().height() + 8);
    layout->addWidget(readout_);

    auto* row = new QHBoxLayout;
    // Gross ("SG") or net ("SN"): the readout's prefix and the stream the device sends.
    auto* selectionLabel = new QLabel("Autotransmit", this);
    autotransmit_ = new QComboBox(this);
    autotransmit_->addItems({"SG", "SN"});
    autotransmit_->setAccessibleName("Autotransmit");
    autotransmit_->setToolTip("SG = gross    SN = net");
    selectionLabel->setBuddy(autotransmit_);
    startAutotransmit_ = captionedButton(c_.readout().buttonCaption(), this);
    startAutotransmit_->setObjectName("Start autotransmit");
    row->addWidget(selectionLabel);
    row->addWidget(autotransmit_);
    row->addWidget(startAutotransmit_);
    row->addWidget(new FindDeviceButton(c_, this));
    row->addStretch();
    layout->addLayout(row);
    layout->addWidget(new RunPanel(c_, this));
    scopePanel_ = new ScopePanel(c_, printer, this);
    layout->addWidget(scopePanel_, 1);

    connect(autotransmit_, &QComboBox::activated, this, [this](int) {
        const QString chosen = autotransmit_->currentText();
        whenLinkIdle(c_, [this, chosen] { c_.displayStream().setAutotransmit(chosen); });
    });
    connect(startAutotransmit_, &QPushButton::clicked, this,
            [this] { whenLinkIdle(c_, [this] { c_.displayStream().startAutotransmitClicked(); }); });
    connect(&c_.readout(), &LiveReadout::textChanged, readout_, &QLabel::setText);
    connect(&c_.readout(), &LiveReadout::autotransmitChanged, this, &DisplayPage::followAutotransmit);
    connect(&c_.discovery(), &Discovery::changed, this, &DisplayPage::followLocks);
    connect(&c_.acquisition(), &Acquisition::changed, this, &DisplayPage::followLocks);
    followAutotransmit();
    followLocks();
}

void DisplayPage::followAutotransmit() {
    startAutotransmit_->setText(c_.readout().buttonCaption());
    startAutotransmit_->setAccessibleName(startAutotransmit_->text());
    autotransmit_->setCurrentText(c_.readout().autotransmit());
}

void DisplayPage::followLocks() {
    // Starting or switching the stream during RUN or TRIGGER would take the recording's stream.
    const bool free = deviceButtonsFree(c_);
    startAutotransmit_->setEnabled(free);
    autotransmit_->setEnabled(free);
}

} // namespace tarvo::ui

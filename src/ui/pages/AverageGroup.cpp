#include "AverageGroup.h"

#include "app/MainController.h"
#include "ui/widgets/Controls.h"
#include "ui/widgets/ValueLabel.h"

#include <QCheckBox>
#include <QEvent>
#include <QHBoxLayout>
#include <QMouseEvent>
#include <QVBoxLayout>

namespace tarvo::ui {

AverageGroup::AverageGroup(FamilyPage family, MainController& controller, QWidget* parent)
    : QGroupBox("Average", parent), family_(family), c_(controller) {
    setAccessibleName(title());
    AverageAcquisition& averaging = c_.averaging();
    auto* layout = new QVBoxLayout(this);
    auto* row = new QHBoxLayout;
    average_ = captionedButton(averaging.caption(family), this);
    average_->setObjectName("Get Average");
    row->addWidget(average_);
    logAverage_ = new QCheckBox("Log Average Data", this);
    logAverage_->setAccessibleName(logAverage_->text());
    row->addWidget(logAverage_);
    showLastAverage_ = new QCheckBox("Show Last Average", this);
    showLastAverage_->setAccessibleName(showLastAverage_->text());
    row->addWidget(showLastAverage_);
    row->addStretch();
    layout->addLayout(row);

    const bool mxr41 = family == FamilyPage::Mxr41;
    display_ = new ValueLabel(QString(), mxr41 ? "Check-Weigher display" : "Result display", this);
    QFont big = display_->font();
    big.setPointSize(24);
    big.setBold(true);
    display_->setFont(big);
    display_->installEventFilter(this);
    layout->addWidget(display_);
    if (mxr41) {
        display_->setToolTip(QString::fromLatin1(DosingMonitor::kValueDisplayHint));
        auto* raw = new QGroupBox("Record raw Average-data", this);
        raw->setAccessibleName(raw->title());
        auto* options = new QHBoxLayout(raw);
        startRecording_ = captionedOption("Start recording", raw);
        stopRecording_ = captionedOption("Stop recording", raw);
        options->addWidget(startRecording_);
        options->addWidget(stopRecording_);
        layout->addWidget(raw);
        onOperatorChoice(startRecording_, this,
                         [this] { whenLinkIdle(c_, [this] { c_.averaging().startRecordingRawClicked(); }); });
        onOperatorChoice(stopRecording_, this,
                         [this] { whenLinkIdle(c_, [this] { c_.averaging().stopRecordingRawClicked(); }); });
        // The average the device sends itself reaches the check-weigher display through the value display.
        connect(&c_.dosingMonitor(), &DosingMonitor::valueDisplayChanged, display_, &QLabel::setText);
        connect(&averaging, &AverageAcquisition::checkWeigherDisplayChanged, display_, &QLabel::setText);
    } else {
        display_->setToolTip("Click: show in the big display");
    }

    connect(average_, &QPushButton::clicked, this, [this] {
        whenLinkIdle(c_, [this] {
            if (family_ == FamilyPage::Mxr41)
                c_.averaging().mxr41AverageClicked();
            else
                c_.averaging().tcw43AverageClicked();
        });
    });
    // The two pages' boxes are the two "Log Average Data" options.
    const int box = mxr41 ? 0 : 1;
    connect(logAverage_, &QCheckBox::toggled, this, [this, box](bool on) {
        if (!syncing_)
            c_.dataFiles().setLogAverageData(box, on);
    });
    connect(showLastAverage_, &QCheckBox::toggled, this, [this](bool on) {
        if (!syncing_)
            c_.averaging().showLastAverageClicked(on);
    });
    connect(&averaging, &AverageAcquisition::changed, this, &AverageGroup::sync);
    connect(&c_.dataFiles(), &DataFiles::changed, this, &AverageGroup::sync);
    connect(&c_.dosingMonitor(), &DosingMonitor::showLastAverageChanged, this, &AverageGroup::sync);
    connect(&c_, &MainController::pageControlEnabledChanged, this, &AverageGroup::sync);
    sync();
}

void AverageGroup::sync() {
    syncing_ = true;
    const AverageAcquisition& averaging = c_.averaging();
    average_->setText(averaging.caption(family_));
    average_->setAccessibleName(average_->text());
    average_->setEnabled(c_.pageControlEnabled());
    logAverage_->setChecked(c_.dataFiles().logAverageData(family_ == FamilyPage::Mxr41 ? 0 : 1));
    showLastAverage_->setChecked(c_.dosingMonitor().showLastAverage());
    if (family_ == FamilyPage::Mxr41) {
        showSelection({startRecording_, stopRecording_}, averaging.rawRecording() ? 0 : 1);
    } else {
        display_->setText(averaging.lastAverage());
    }
    syncing_ = false;
}

bool AverageGroup::eventFilter(QObject* watched, QEvent* event) {
    if (watched == display_) {
        // The hint lists the newest values when the mouse comes over the check-weigher display.
        if (family_ == FamilyPage::Mxr41 && event->type() == QEvent::Enter)
            display_->setToolTip(c_.dosingMonitor().valueDisplayHint());
        if (family_ == FamilyPage::Tcw43 && event->type() == QEvent::MouseButtonRelease &&
            static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton)
            c_.averaging().resultDisplayClicked();
    }
    return QGroupBox::eventFilter(watched, event);
}

} // namespace tarvo::ui

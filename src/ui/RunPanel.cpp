#include "RunPanel.h"

#include "app/MainController.h"
#include "measure/LiveReadout.h"
#include "widgets/Controls.h"
#include "widgets/ValueLabel.h"

#include <QHBoxLayout>
#include <QPainter>

namespace tarvo::ui {

// A round lamp of one colour, or dark. Painted rather than styled: a style sheet costs the start a
// style of its own and a new polish at every blink.
class StatusLamp : public QLabel {
public:
    using QLabel::QLabel;
    void setColour(const QColor& colour) {
        if (colour == colour_)
            return;
        colour_ = colour;
        update();
    }

protected:
    void paintEvent(QPaintEvent*) override {
        if (!colour_.isValid())
            return;
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(Qt::NoPen);
        painter.setBrush(colour_);
        painter.drawEllipse(rect());
    }

private:
    QColor colour_;
};

RunPanel::RunPanel(MainController& controller, QWidget* parent) : QGroupBox("Run", parent), c_(controller) {
    auto* layout = new QHBoxLayout(this);
    Acquisition& a = c_.acquisition();
    auto make = [&](const char* caption, const char* hint) {
        QPushButton* b = captionedButton(caption, this);
        b->setCheckable(true);
        b->setToolTip(hint);
        layout->addWidget(b);
        return b;
    };
    run_ = make("RUN", "Start realtime graph");
    stop_ = make("STOP", "Stop realtime graph");
    pause_ = make("PAUSE", "Pause realtime graph");
    trigger_ = make("TRIGGER", "Start waiting for trigger");
    // The four stay down while they act: a press by any means toggles them.
    onOperatorToggle(run_, this,
                     [this](bool) { whenLinkIdle(c_, [this] { c_.acquisition().runClicked(); }); });
    onOperatorToggle(stop_, this,
                     [this](bool) { whenLinkIdle(c_, [this] { c_.acquisition().stopClicked(); }); });
    onOperatorToggle(pause_, this, [this](bool down) {
        whenLinkIdle(c_, [this, down] { c_.acquisition().pauseClicked(down); });
    });
    onOperatorToggle(trigger_, this, [this](bool down) {
        whenLinkIdle(c_, [this, down] { c_.acquisition().triggerClicked(down); });
    });
    lamp_ = new StatusLamp(this);
    lamp_->setAccessibleName("Status lamp");
    lamp_->setFixedSize(20, 20);
    lamp_->setToolTip(Acquisition::kLampHint);
    layout->addWidget(lamp_);
    stepTime_ = new ValueLabel(a.stepTimeLabel(), "StepTime", this);
    sampleNr_ = new ValueLabel(a.sampleLabel(), "SampleNr", this);
    layout->addWidget(stepTime_);
    layout->addWidget(sampleNr_);
    layout->addStretch();

    // The counts change with every sample. Of fixed size, a new text repaints the label alone instead of
    // sending the page through a layout pass, which repaints the whole tab.
    stepTime_->setFixedSize(
        stepTime_->fontMetrics().horizontalAdvance(QStringLiteral("StepTime: 00000.000ms  ")),
        stepTime_->sizeHint().height());
    sampleNr_->setFixedSize(sampleNr_->fontMetrics().horizontalAdvance(QStringLiteral("SampleNr: 0000000  ")),
                            sampleNr_->sizeHint().height());

    blink_.setInterval(500);
    connect(&blink_, &QTimer::timeout, this, [this] {
        blinkOn_ = !blinkOn_;
        paintLamp();
    });
    connect(&a, &Acquisition::changed, this, &RunPanel::sync);
    connect(&a, &Acquisition::lampChanged, this, &RunPanel::sync);
    // Samples do not signal one by one: the labels follow the scope's refresh.
    connect(&c_.graph(), &GraphModel::repaintRequested, this, [this] {
        // The scope may refresh a hundred times a second; counts are read at the readout's pace.
        if (!countsShown_.isValid() || countsShown_.elapsed() >= LiveReadout::kViewRefreshMs)
            showCounts();
    });
    sync();
}

void RunPanel::showCounts() {
    countsShown_.start();
    const Acquisition& a = c_.acquisition();
    stepTime_->setText(a.stepTimeLabel());
    sampleNr_->setText(a.sampleLabel());
}

void RunPanel::paintLamp() {
    static const QColor kLampColours[] = {Qt::green, Qt::yellow, Qt::red, Qt::red};
    lamp_->setColour(blinkOn_ ? kLampColours[static_cast<int>(c_.acquisition().lamp())] : QColor());
}

void RunPanel::sync() {
    const Acquisition& a = c_.acquisition();
    showChecked(run_, a.runDown());
    showChecked(stop_, a.stopDown());
    showChecked(pause_, a.pauseDown());
    showChecked(trigger_, a.triggerDown());
    const bool panel = a.runPanelEnabled();
    for (QPushButton* b : {run_, stop_, pause_, trigger_})
        b->setEnabled(panel);
    // What the lamp says is heard as well as seen: the hint's own words for its colour.
    static constexpr const char* kLampStates[] = {"Green = Ready", "Yellow = Waiting for trigger",
                                                  "Red = Busy", "RedBlink = Error"};
    lamp_->setAccessibleDescription(QLatin1String(kLampStates[static_cast<int>(a.lamp())]));
    if (a.lamp() == Acquisition::Lamp::RedBlink) {
        if (!blink_.isActive())
            blink_.start();
    } else {
        blink_.stop();
        blinkOn_ = true;
    }
    paintLamp();
    showCounts();
}

} // namespace tarvo::ui

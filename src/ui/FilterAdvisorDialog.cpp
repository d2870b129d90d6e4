#include "FilterAdvisorDialog.h"

#include "app/MainController.h"
#include "averaging/AverageAcquisition.h"
#include "measure/Acquisition.h"
#include "measure/FilterAdvisor.h"
#include "measure/LiveReadout.h"
#include "protocol/Discovery.h"
#include "ui/widgets/Controls.h"

#include <QCheckBox>
#include <QDoubleSpinBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QSpinBox>
#include <QTableWidget>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>

namespace tarvo::ui {

// Noise (standard deviation) against settling time, one point per setting: the targets' corner is
// shaded, the settings that meet both are filled, the recommendation is ringed and named.
class NoiseSettlingPlot : public QWidget {
public:
    explicit NoiseSettlingPlot(QWidget* parent) : QWidget(parent) {
        setMinimumSize(360, 240);
        setAccessibleName("Noise against settling time");
    }
    void show(const FilterAdvisor* advisor) {
        advisor_ = advisor;
        update();
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        p.fillRect(rect(), palette().base());
        const QRectF area = QRectF(rect()).adjusted(56, 12, -16, -40);
        p.setPen(palette().text().color());
        p.drawRect(area);
        p.drawText(QRectF(area.left(), area.bottom() + 20, area.width(), 18), Qt::AlignCenter,
                   "Settling time (ms)");
        p.save();
        p.translate(14, area.center().y());
        p.rotate(-90);
        p.drawText(QRectF(-area.height() / 2, -10, area.height(), 18), Qt::AlignCenter, "Noise (sigma)");
        p.restore();
        if (!advisor_ || advisor_->trials().isEmpty())
            return;
        const QList<FilterTrial>& trials = advisor_->trials();
        double maxSettle = advisor_->targets().settleMs * 1.5;
        double maxNoise = advisor_->targets().noise * 1.5;
        for (const FilterTrial& t : trials) {
            if (t.settlingMs)
                maxSettle = std::max(maxSettle, *t.settlingMs * 1.1);
            if (t.stillNoise)
                maxNoise = std::max(maxNoise, t.sigma * 1.1);
        }
        maxNoise = std::max(maxNoise, 1e-9);
        auto x = [&](double ms) { return area.left() + std::min(ms / maxSettle, 1.0) * area.width(); };
        auto y = [&](double sigma) {
            return area.bottom() - std::min(sigma / maxNoise, 1.0) * area.height();
        };
        // The corner where both targets are met.
        const QRectF good(QPointF(area.left(), y(advisor_->targets().noise)),
                          QPointF(x(advisor_->targets().settleMs), area.bottom()));
        p.fillRect(good, QColor(0x40, 0xb0, 0x40, 40));
        p.setPen(QPen(QColor(0x40, 0x90, 0x40), 1, Qt::DashLine));
        p.drawLine(QPointF(area.left(), good.top()), QPointF(area.right(), good.top()));
        p.drawLine(QPointF(good.right(), area.top()), QPointF(good.right(), area.bottom()));
        p.setPen(palette().text().color());
        p.drawText(QRectF(area.left() - 54, area.bottom() - 9, 50, 18), Qt::AlignRight | Qt::AlignVCenter,
                   "0");
        p.drawText(QRectF(area.left() - 54, area.top() - 9, 50, 18), Qt::AlignRight | Qt::AlignVCenter,
                   QString::number(maxNoise, 'g', 3));
        p.drawText(QRectF(area.right() - 60, area.bottom() + 2, 60, 18), Qt::AlignRight,
                   QString::number(maxSettle, 'f', 0));
        for (int i = 0; i < trials.size(); ++i) {
            const FilterTrial& t = trials[i];
            // A setting that never settled sits at the right edge.
            const QPointF at(t.settlingMs ? x(*t.settlingMs) : area.right(), y(t.sigma));
            p.setPen(palette().text().color());
            p.setBrush(t.meetsBoth() ? QBrush(QColor(0x30, 0x90, 0x30)) : Qt::NoBrush);
            p.drawEllipse(at, 4, 4);
            if (advisor_->recommended() == i) {
                p.setBrush(Qt::NoBrush);
                p.setPen(QPen(QColor(0xd0, 0x30, 0x30), 2));
                p.drawEllipse(at, 9, 9);
                p.drawText(at + QPointF(12, -8), t.setting.name());
            }
        }
    }

private:
    const FilterAdvisor* advisor_ = nullptr;
};

namespace {
enum Column { Setting, SigmaCounts, Sigma, PeakToPeak, Settling, Meets, Columns };
}

FilterAdvisorDialog::FilterAdvisorDialog(MainController& controller, QWidget* parent)
    : QDialog(parent), c_(controller) {
    setWindowTitle("Filter advisor");
    setObjectName("Filter advisor");
    setAccessibleName("Filter advisor");
    auto* layout = new QVBoxLayout(this);

    auto* form = new QFormLayout;
    const int decimals = 3;
    noise_ = new QDoubleSpinBox(this);
    noise_->setDecimals(decimals);
    noise_->setRange(0, 99999);
    noise_->setValue(1.0);
    noise_->setAccessibleName("Noise target");
    form->addRow("Noise at most (standard deviation, in the weight's units):", noise_);
    settle_ = new QSpinBox(this);
    settle_->setRange(1, 3600000);
    settle_->setValue(500);
    settle_->setSuffix(" ms");
    settle_->setAccessibleName("Settling target");
    form->addRow("Settled within:", settle_);
    window_ = new QSpinBox(this);
    window_->setRange(200, 600000);
    window_->setValue(4000);
    window_->setSuffix(" ms");
    window_->setAccessibleName("Recording per setting");
    form->addRow("Recording per setting:", window_);
    operatorSteps_ = new QCheckBox("I put the load on and take it off when asked", this);
    operatorSteps_->setAccessibleName(operatorSteps_->text());
    form->addRow(operatorSteps_);
    layout->addLayout(form);

    progress_ = new QLabel(this);
    progress_->setAccessibleName("Progress");
    progress_->setWordWrap(true);
    layout->addWidget(progress_);

    auto* results = new QHBoxLayout;
    table_ = new QTableWidget(0, Columns, this);
    table_->setAccessibleName("Filter settings");
    table_->setHorizontalHeaderLabels(
        {"Setting", "Sigma (counts)", "Sigma", "Peak-to-peak", "Settling (ms)", "Meets targets"});
    table_->verticalHeader()->hide();
    table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table_->horizontalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
    results->addWidget(table_, 3);
    plot_ = new NoiseSettlingPlot(this);
    results->addWidget(plot_, 2);
    layout->addLayout(results, 1);

    auto* buttons = new QHBoxLayout;
    start_ = captionedButton("Start", this);
    cancel_ = captionedButton("Cancel", this);
    apply_ = captionedButton("Apply", this);
    report_ = captionedButton("Save report...", this);
    close_ = captionedButton("Close", this);
    for (QPushButton* b : {start_, cancel_, apply_, report_, close_}) {
        b->setAutoDefault(false);
        buttons->addWidget(b);
    }
    layout->addLayout(buttons);
    connect(start_, &QPushButton::clicked, this, [this] { whenLinkIdle(c_, [this] { start(); }); });
    connect(cancel_, &QPushButton::clicked, this, [this] {
        if (advisor_ && advisor_->running())
            advisor_->cancel();
    });
    connect(apply_, &QPushButton::clicked, this, [this] { whenLinkIdle(c_, [this] { apply(); }); });
    connect(report_, &QPushButton::clicked, this, &FilterAdvisorDialog::saveReport);
    connect(close_, &QPushButton::clicked, this, &FilterAdvisorDialog::reject);
    resize(1080, 560);
    syncButtons();
}

FilterAdvisorDialog::~FilterAdvisorDialog() = default;

void FilterAdvisorDialog::syncButtons() {
    const bool running = advisor_ && advisor_->running();
    start_->setEnabled(!running);
    cancel_->setEnabled(running);
    apply_->setEnabled(!running && advisor_ && advisor_->recommended() && !advisor_->applied() &&
                       advisor_->restoreConfirmed());
    report_->setEnabled(!running && advisor_ && !advisor_->trials().isEmpty());
    close_->setEnabled(!running);
    for (QWidget* w : std::initializer_list<QWidget*>{noise_, settle_, window_, operatorSteps_})
        w->setEnabled(!running);
}

void FilterAdvisorDialog::reject() {
    // Closing while the search runs cancels it; the dialog closes once the original is back.
    if (advisor_ && advisor_->running()) {
        advisor_->cancel();
        return;
    }
    QDialog::reject();
}

void FilterAdvisorDialog::start() {
    if (advisor_ && advisor_->running())
        return;
    // A recording takes the device's stream: the search would take it over and end the recording.
    if (c_.acquisition().runDown() || c_.acquisition().triggerDown() || c_.averaging().running()) {
        progress_->setText(
            QStringLiteral("A recording is running (RUN, TRIGGER or Get Average): stop it first."));
        return;
    }
    const int identity = c_.discovery().deviceIdentity();
    advisor_ = std::make_unique<FilterAdvisor>(c_.link(), c_.op(), identity, c_.readout().streamStart(),
                                               c_.readout().streamCommand());
    connect(advisor_.get(), &FilterAdvisor::progress, this,
            [this](const QString& text, int, int) { progress_->setText(text); });
    connect(advisor_.get(), &FilterAdvisor::trialFinished, this, &FilterAdvisorDialog::showTrial);
    table_->setRowCount(0);
    plot_->show(advisor_.get());
    FilterAdvisor::Targets targets;
    targets.noise = noise_->value();
    targets.settleMs = settle_->value();
    FilterAdvisor::Options options;
    options.windowMs = window_->value();
    options.operatorSteps = operatorSteps_->isChecked();
    // The pages' own exchanges wait while the search holds the device.
    const bool pagesWereEnabled = c_.pageControlEnabled();
    c_.setPageControlEnabled(false);
    FilterAdvisor* advisor = advisor_.get();
    QMetaObject::invokeMethod(
        this, [this] { syncButtons(); }, Qt::QueuedConnection);
    advisor->run(targets, options);
    c_.setPageControlEnabled(pagesWereEnabled);
    showOutcome();
}

void FilterAdvisorDialog::showTrial(int index) {
    if (!advisor_ || index < 0 || index >= advisor_->trials().size())
        return;
    syncButtons();
    const FilterTrial& t = advisor_->trials()[index];
    const int d = advisor_->decimals();
    table_->setRowCount(index + 1);
    const QStringList cells{
        t.setting.name(),
        QString::number(t.sigmaCounts, 'f', 2) + (t.stillNoise ? QString() : QStringLiteral(" (moving)")),
        QString::number(t.sigma, 'f', d + 2),
        QString::number(t.peakToPeak, 'f', d),
        t.settlingMs ? QString::number(*t.settlingMs, 'f', 0) : QStringLiteral("not settled"),
        t.meetsBoth()     ? QStringLiteral("both")
        : t.meetsNoise    ? QStringLiteral("noise")
        : t.meetsSettling ? QStringLiteral("settling")
                          : QString()};
    for (int col = 0; col < Columns; ++col)
        table_->setItem(index, col, new QTableWidgetItem(cells[col]));
    plot_->update();
}

void FilterAdvisorDialog::showOutcome() {
    if (!advisor_)
        return;
    if (const std::optional<int> r = advisor_->recommended()) {
        for (int col = 0; col < Columns; ++col)
            if (QTableWidgetItem* item = table_->item(*r, col)) {
                QFont bold = item->font();
                bold.setBold(true);
                item->setFont(bold);
            }
        table_->item(*r, Meets)->setText("both - recommended");
    }
    plot_->update();
    syncButtons();
}

void FilterAdvisorDialog::apply() {
    if (!advisor_ || advisor_->running())
        return;
    c_.setPageControlEnabled(false);
    const bool applied = advisor_->applyRecommendation();
    c_.setPageControlEnabled(true);
    if (applied)
        progress_->setText(QStringLiteral("Applied and stored: %1.")
                               .arg(advisor_->trials()[*advisor_->recommended()].setting.name()));
    else
        progress_->setText(advisor_->error());
    syncButtons();
}

void FilterAdvisorDialog::saveReport() {
    if (!advisor_)
        return;
    const QString path = c_.op().askSaveFileName("csv", "CSV files (*.csv)");
    if (path.isEmpty())
        return;
    QString why;
    if (advisor_->writeReport(path, &why))
        progress_->setText("Report saved: " + path);
    else
        c_.op().showMessage(path + ": " + why + "; the report was not saved", "Filter advisor",
                            MessageIcon::Error);
}

} // namespace tarvo::ui

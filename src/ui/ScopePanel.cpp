#include "ScopePanel.h"

#include "GraphPrinting.h"
#include "LazyPrinter.h"
#include "MeasureTool.h"
#include "ScopeWidget.h"
#include "app/MainController.h"
#include "measure/SpanMeasure.h"
#include "widgets/Controls.h"

#include <QCheckBox>
#include <QEvent>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QSpinBox>
#include <QToolButton>
#include <QVBoxLayout>

namespace tarvo::ui {

namespace {

QPushButton* panelButton(const QString& caption, QWidget* parent, const QString& hint = {}) {
    auto* b = new QPushButton(caption, parent);
    b->setAccessibleName(caption);
    if (!hint.isEmpty())
        b->setToolTip(hint);
    return b;
}

QSpinBox* adjuster(const ScopeControls::Adjuster& a, QWidget* parent) {
    auto* box = new QSpinBox(parent);
    box->setRange(a.minimum, a.maximum);
    box->setSingleStep(a.step);
    box->setValue(a.position);
    box->setToolTip(a.hint);
    box->setAccessibleName(a.hint);
    box->setKeyboardTracking(false);
    return box;
}

// Short captions for the tool buttons; the hints are the tools' own texts.
constexpr const char* kToolCaptions[] = {"Zoom",       "Pan",    "Pencil", "Measure", "Points", "Lines",
                                         "Del pencil", "Redraw", "JPEG",   "CSV",     "Print"};

} // namespace

ScopePanel::ScopePanel(MainController& controller, LazyPrinter& printer, QWidget* parent)
    : QWidget(parent), c_(controller), printer_(printer) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(buildToolBar());
    scope_ = new ScopeWidget(c_.graph(), this);
    scope_->setToolTip(ScopeControls::kScopeHint);
    scope_->setAccessibleName("Scope");
    scope_->setMinimumSize(480, 260);
    layout->addWidget(scope_, 1);
    measure_ = new SpanMeasure(
        c_.graph(), [this] { return c_.selectedGraphSlot(); }, &c_.op(), this);
    measureTool_ = new MeasureTool(*scope_, *measure_, this);

    auto* bottom = new QHBoxLayout;
    bottom->addWidget(buildAdjusters());
    bottom->addWidget(buildSlots());
    auto* right = new QVBoxLayout;
    valueDisplay_ = new QLabel(this);
    // Screen readers announce the value; the words say what it is.
    valueDisplay_->setObjectName("Value display");
    valueDisplay_->setAccessibleDescription("Value display");
    QFont big = valueDisplay_->font();
    big.setPointSize(24);
    big.setBold(true);
    valueDisplay_->setFont(big);
    valueDisplay_->setToolTip("1233");
    valueDisplay_->installEventFilter(this);
    right->addWidget(valueDisplay_);
    logGetDosed_ = new QCheckBox("Log GetDosed", this);
    logGetDosed_->setAccessibleName("Log GetDosed");
    right->addWidget(logGetDosed_);
    // The averaging page will carry this option too; the "Data" window follows it.
    showLastAverage_ = new QCheckBox("Show Last Average", this);
    showLastAverage_->setAccessibleName("Show Last Average");
    right->addWidget(showLastAverage_);
    logDosingGraph_ = new QCheckBox("Log Dosing Graph Data", this);
    logDosingGraph_->setAccessibleName("Log Dosing Graph Data");
    right->addWidget(logDosingGraph_);
    progress_ = new QProgressBar(this);
    progress_->setRange(0, 100);
    progress_->setAccessibleName("Progress");
    right->addWidget(progress_);
    performance_ = new QSlider(Qt::Horizontal, this);
    performance_->setRange(0, 6);
    performance_->setValue(c_.scopeControls().graphicsPerformance());
    performance_->setToolTip("Graphics performance");
    performance_->setAccessibleName("Graphics performance");
    right->addWidget(performance_);
    right->addStretch();
    bottom->addLayout(right);
    layout->addLayout(bottom);

    ScopeControls& sc = c_.scopeControls();
    DataFiles& files = c_.dataFiles();
    DosingMonitor& monitor = c_.dosingMonitor();
    connect(performance_, &QSlider::valueChanged, this, [&sc](int v) { sc.setGraphicsPerformance(v); });
    connect(logGetDosed_, &QCheckBox::toggled, this, [this, &files](bool on) {
        if (!syncing_)
            files.setLogGetDosed(on);
    });
    connect(logDosingGraph_, &QCheckBox::toggled, this, [this, &files](bool on) {
        if (!syncing_)
            files.setLogDosingData(on);
    });
    connect(showLastAverage_, &QCheckBox::toggled, this, [this, &monitor](bool on) {
        if (!syncing_)
            monitor.setShowLastAverage(on);
    });
    connect(&monitor, &DosingMonitor::showLastAverageChanged, this, &ScopePanel::sync);
    connect(&monitor, &DosingMonitor::valueDisplayChanged, valueDisplay_, &QLabel::setText);
    connect(&sc, &ScopeControls::changed, this, &ScopePanel::sync);
    connect(&sc, &ScopeControls::changed, measureTool_, &MeasureTool::sync);
    connect(&c_.acquisition(), &Acquisition::changed, this, &ScopePanel::sync);
    connect(&c_.discovery(), &Discovery::changed, this, &ScopePanel::sync);
    connect(&files, &DataFiles::changed, this, &ScopePanel::sync);
    sync();
}

QWidget* ScopePanel::buildToolBar() {
    auto* bar = new QWidget(this);
    auto* layout = new QHBoxLayout(bar);
    layout->setContentsMargins(0, 0, 0, 0);
    for (std::size_t i = 0; i < ScopeControls::kTools.size(); ++i) {
        const ScopeControls::ToolInfo info = ScopeControls::kTools[i];
        auto* b = new QToolButton(bar);
        b->setText(kToolCaptions[i]);
        b->setToolTip(info.hint);
        b->setAccessibleName(info.hint);
        layout->addWidget(b);
        tools_.push_back(b);
        if (info.tool == ScopeControls::Tool::Redraw)
            redraw_ = b;
        connect(b, &QToolButton::clicked, this, [this, tool = info.tool] {
            // Picture and paper need the widget's pixels: they are made here; the rest is the core's.
            if (tool == ScopeControls::Tool::SaveJpeg)
                GraphPrinting::saveGraphAsJpeg(*scope_, c_.op());
            else if (tool == ScopeControls::Tool::Print)
                printGraph();
            else if (tool == ScopeControls::Tool::SaveCsv)
                c_.dataFiles().saveCsvClicked(c_.selectedGraphSlot(), c_.readout().grossSelected());
            else
                c_.scopeControls().toolClicked(tool);
        });
    }
    layout->addStretch();
    return bar;
}

QWidget* ScopePanel::buildAdjusters() {
    auto* box = new QWidget(this);
    auto* grid = new QGridLayout(box);
    ScopeControls& sc = c_.scopeControls();
    timeBase_ = adjuster(sc.timeBase(), box);
    counts_ = adjuster(sc.counts(), box);
    offset_ = adjuster(sc.offset(), box);
    grid->addWidget(new QLabel("Time", box), 0, 0);
    grid->addWidget(timeBase_, 0, 1);
    grid->addWidget(new QLabel("Counts", box), 1, 0);
    grid->addWidget(counts_, 1, 1);
    grid->addWidget(new QLabel("Offset", box), 2, 0);
    grid->addWidget(offset_, 2, 1);
    connect(timeBase_, &QSpinBox::valueChanged, this, [this, &sc](int v) {
        if (!syncing_)
            sc.setTimeBasePosition(v);
    });
    connect(counts_, &QSpinBox::valueChanged, this, [this, &sc](int v) {
        if (!syncing_)
            sc.setCountsPosition(v);
    });
    connect(offset_, &QSpinBox::valueChanged, this, [this, &sc](int v) {
        if (!syncing_)
            sc.setOffsetPosition(v);
    });
    return box;
}

QWidget* ScopePanel::buildSlots() {
    auto* box = new QWidget(this);
    auto* grid = new QGridLayout(box);
    ScopeControls& sc = c_.scopeControls();
    for (int slot = 1; slot <= 5; ++slot) {
        auto* r = new QRadioButton(QStringLiteral("Graph %1").arg(slot), box);
        r->setAccessibleName(r->text());
        slots_[static_cast<std::size_t>(slot - 1)] = r;
        QPushButton* clear = panelButton("Clear", box);
        clear->setAccessibleName(QStringLiteral("Clear Graph %1").arg(slot));
        grid->addWidget(r, slot - 1, 0);
        grid->addWidget(clear, slot - 1, 1);
        onOperatorChoice(r, this, [&sc, slot] { sc.selectSlot(slot); });
        connect(clear, &QPushButton::clicked, this, [&sc, slot] { sc.clearClicked(slot); });
    }
    QPushButton* clearAll = panelButton(ScopeControls::kClearAllCaption, box);
    QPushButton* reset = panelButton("RESET", box, ScopeControls::kResetHint);
    grid->addWidget(clearAll, 5, 0, 1, 2);
    grid->addWidget(reset, 6, 0, 1, 2);
    connect(clearAll, &QPushButton::clicked, this, [&sc] { sc.clearAllClicked(); });
    connect(reset, &QPushButton::clicked, this, [&sc] { sc.resetClicked(); });
    return box;
}

void ScopePanel::printGraph() {
    QString problem;
    QPrinter* printer = printer_.get(&problem);
    if (!printer)
        return c_.op().showMessage(problem);
    if (GraphPrinting::printGraph(*scope_, *printer, window(), &problem) ==
        PictureOutput::PrintResult::Failed)
        c_.op().showMessage(QStringLiteral("Print graph: %1; nothing was printed.").arg(problem), QString(),
                            MessageIcon::Error);
}

void ScopePanel::sync() {
    syncing_ = true;
    const ScopeControls& sc = c_.scopeControls();
    timeBase_->setSingleStep(sc.timeBase().step);
    timeBase_->setValue(sc.timeBase().position);
    counts_->setSingleStep(sc.counts().step);
    counts_->setValue(sc.counts().position);
    offset_->setSingleStep(sc.offset().step);
    offset_->setValue(sc.offset().position);
    performance_->setValue(sc.graphicsPerformance());
    const int slot = c_.selectedGraphSlot();
    if (slot >= 1 && slot <= 5)
        showChecked(slots_[static_cast<std::size_t>(slot - 1)], true);
    // While RUN or TRIGGER records, the slot choice and Redraw are locked; RUN also locks the tool bar.
    const Acquisition& a = c_.acquisition();
    const bool slotsFree = !a.buttonGroupLocked();
    for (QRadioButton* r : slots_)
        r->setEnabled(slotsFree);
    for (QToolButton* b : tools_)
        b->setEnabled(!a.toolBarLocked());
    redraw_->setEnabled(!a.toolBarLocked() && slotsFree);
    progress_->setValue(c_.acquisition().progress());
    const Discovery& d = c_.discovery();
    valueDisplay_->setVisible(d.valueDisplayVisible());
    logGetDosed_->setVisible(d.logGetDosedVisible());
    logGetDosed_->setChecked(c_.dataFiles().logGetDosed());
    showLastAverage_->setChecked(c_.dosingMonitor().showLastAverage());
    logDosingGraph_->setEnabled(c_.acquisition().logDosingEnabled());
    logDosingGraph_->setChecked(c_.dataFiles().logDosingData());
    syncing_ = false;
}

bool ScopePanel::eventFilter(QObject* watched, QEvent* event) {
    // The hint lists the newest values when the mouse comes over the value display.
    if (watched == valueDisplay_ && event->type() == QEvent::Enter)
        valueDisplay_->setToolTip(c_.dosingMonitor().valueDisplayHint());
    return QWidget::eventFilter(watched, event);
}

} // namespace tarvo::ui

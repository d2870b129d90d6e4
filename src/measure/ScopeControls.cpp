#include "ScopeControls.h"

#include "Acquisition.h"
#include "RecordingMemory.h"
#include "base/Operator.h"

#include <algorithm>

namespace tarvo {

ScopeControls::ScopeControls(GraphModel& graph, RecordingMemory& memory, Acquisition& acquisition,
                             Operator& op, QObject* parent)
    : QObject(parent), graph_(graph), memory_(memory), acq_(acquisition), op_(op) {
    updateOffsetStep();
}

const QStringList& ScopeControls::mouseModeNames() {
    static const QStringList names{"mmNothing", "mmPan",          "mmScale",  "mmScaleX", "mmScaleY",
                                   "mmCross",   "mmCombinedDraw", "mmPencil", "mmLine",   "mmMeasure"};
    return names;
}

void ScopeControls::restore(const QString& graphName, const QString& units, double worldTop,
                            double worldBottom) {
    graphName_ = graphName;
    units_ = units.left(kMaxUnits);
    graph_.setCaption(graphName_);
    graph_.setUnitLabel(units_);
    graph_.setTop(worldTop);
    graph_.setBottom(worldBottom);
    updateOffsetStep();
    emit changed();
}

int ScopeControls::clamp(const Adjuster& a, int position) {
    return std::clamp(position, a.minimum, a.maximum);
}

double ScopeControls::runClock() const {
    return acq_.runClock();
}

void ScopeControls::setTimeBasePosition(int position) {
    position = clamp(time_, position);
    time_.position = position;
    if (position == time_.previous)
        return;
    time_.previous = position;
    const double b = position;
    if (graph_.right() - 500 < runClock())
        graph_.setRight(graph_.right() + 1000);
    graph_.setLeft(graph_.right() - b);
    graph_.repaint();
    emit changed();
}

void ScopeControls::setCountsPosition(int position) {
    position = clamp(counts_, position);
    counts_.position = position;
    if (position == counts_.previous)
        return;
    counts_.previous = position;
    graph_.setTop(position);
    graph_.repaint();
    // Fine steps near the bottom of the range; back to coarse ones once the first fine step up is made.
    if (position <= 1000)
        counts_.step = 20;
    if (position == 1020)
        counts_.step = 500;
    emit changed();
}

void ScopeControls::setOffsetPosition(int position) {
    position = clamp(offset_, position);
    const int before = offset_.previous;
    offset_.position = position;
    if (position == before)
        return;
    offset_.previous = position;
    graph_.setBottom(position);
    // The window keeps its height.
    graph_.setTop(position < before ? graph_.top() - offset_.step : graph_.top() + offset_.step);
    graph_.repaint();
    updateOffsetStep();
    emit changed();
}

void ScopeControls::updateOffsetStep() {
    const double height = graph_.top() - graph_.bottom();
    offset_.step = height < 1000 ? 20 : height < 2000 ? 100 : 500;
}

void ScopeControls::graphNameEdited(const QString& text) {
    graphName_ = text;
    graph_.setCaption(text);
    graph_.repaint();
    emit changed();
}

QString ScopeControls::unitsKeyUp(const QString& text) {
    QString kept = text;
    if (kept.size() > kMaxUnits) {
        op_.showMessage(QString::fromLatin1(kUnitsTooLong));
        kept = kept.left(kMaxUnits);
    }
    units_ = kept;
    graph_.setUnitLabel(kept);
    graph_.repaint();
    emit changed();
    return kept;
}

void ScopeControls::colourButtonClicked(GraphModel::ColourCode code) {
    const auto chosen = op_.askColour(graph_.colour(code));
    if (!chosen)
        return;
    graph_.setColour(code, *chosen);
    graph_.repaint();
    emit changed();
}

void ScopeControls::setMouseModeIndex(int index) {
    if (index < 0 || index >= mouseModeNames().size())
        return;
    graph_.setMouseMode(static_cast<GraphModel::MouseMode>(index));
    emit changed();
}

void ScopeControls::clearPencilClicked() {
    graph_.removeAllPencilDrawings();
    graph_.repaint();
}

void ScopeControls::clearLastPencilClicked() {
    graph_.removeLastPencilDrawing();
    graph_.repaint();
}

void ScopeControls::toolClicked(Tool tool) {
    switch (tool) {
    case Tool::Zoom:
        graph_.setMouseMode(GraphModel::MouseMode::Scale);
        break;
    case Tool::Pan:
        graph_.setMouseMode(GraphModel::MouseMode::Pan);
        break;
    case Tool::PencilDraw:
        graph_.setMouseMode(GraphModel::MouseMode::CombinedDraw);
        break;
    case Tool::Measure:
        graph_.setMouseMode(GraphModel::MouseMode::Measure);
        break;
    case Tool::Points:
        graph_.setDrawStyle(GraphModel::DrawStyle::Points);
        graph_.repaint();
        break;
    case Tool::Lines:
        graph_.setDrawStyle(GraphModel::DrawStyle::Lines);
        graph_.repaint();
        break;
    case Tool::DeleteLastPencil:
        clearLastPencilClicked();
        break;
    case Tool::Redraw:
        redrawClicked();
        break;
    case Tool::SaveJpeg:
    case Tool::SaveCsv:
    case Tool::Print:
        return;
    }
    emit changed();
}

void ScopeControls::redrawClicked() {
    if (acq_.buttonGroupLocked() || acq_.toolBarLocked())
        return; // a recording is writing into the slots
    if (!memory_.slot(selectedSlot()).recorded) {
        op_.showMessage(QString::fromLatin1(kNeverDrawn));
        return;
    }
    acq_.redrawSelectedSlot();
}

int ScopeControls::selectedSlot() const {
    return acq_.selectedSlot();
}

void ScopeControls::selectSlot(int slot) {
    if (acq_.buttonGroupLocked())
        return; // the recording writes into the selected slot until it ends
    acq_.setSelectedSlot(slot);
    emit changed();
}

void ScopeControls::clearClicked(int slot) {
    // The recording and its flag stay, so Redraw can draw it again.
    graph_.clearSeries(slot);
    graph_.repaint();
}

void ScopeControls::zeroRunClock() {
    acq_.resetRunClock();
}

void ScopeControls::clearAllClicked() {
    memory_.clearRecordedFlags();
    for (int slot = 1; slot <= kGraphSlots; ++slot)
        graph_.clearSeries(slot);
    graph_.clearLiveTrace();
    graph_.clearMarkers();
    zeroRunClock();
    graph_.setTimeWindow(0, 10000);
    graph_.setValueWindow(-1000, 1000);
    graph_.repaint();
    emit changed();
}

void ScopeControls::resetClicked() {
    graph_.clearLiveTrace();
    graph_.clearMarkers();
    zeroRunClock();
    graph_.setTimeWindow(0, 10000);
    graph_.setValueWindow(-1000, 1000);
    graph_.setTop(9000);
    graph_.setBottom(-100);
    for (int slot = 1; slot <= kGraphSlots; ++slot)
        graph_.clearSeries(slot);
    memory_.clearRecordedFlags();
    graph_.repaint();
    emit changed();
}

void ScopeControls::setGraphicsPerformance(int position) {
    position = std::clamp(position, 0, static_cast<int>(kRefreshMs.size()) - 1);
    performance_ = position;
    acq_.setLiveDrawInterval(kRefreshMs[static_cast<std::size_t>(position)]);
    emit changed();
}

} // namespace tarvo

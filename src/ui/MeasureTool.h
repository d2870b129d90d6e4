#pragma once

#include <QObject>
#include <QPointer>

class QLabel;
class QWidget;

namespace tarvo {
class SpanMeasure;
}

namespace tarvo::ui {

class ScopeWidget;

// The scope's Measure mode on screen: takes the scope's mouse and keys while the mode is chosen and
// hands them to the span measure, draws the span and the cursors over the scope, and shows the figures
// in a small panel in the scope's corner. Ctrl+C puts the figures on the clipboard as text.
class MeasureTool : public QObject {
    Q_OBJECT
public:
    MeasureTool(ScopeWidget& scope, SpanMeasure& measure, QObject* parent = nullptr);

    QLabel* panel() const { return panel_; }
    // The mode or the selection changed: the panel and the drawing follow.
    void sync();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    bool active() const;
    double timeAt(double x) const;
    void copy() const;

    ScopeWidget& scope_;
    SpanMeasure& measure_;
    QWidget* overlay_ = nullptr;
    QLabel* panel_ = nullptr;
};

} // namespace tarvo::ui

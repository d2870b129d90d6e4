#pragma once

#include <QWidget>
#include <array>
#include <vector>

class QLabel;
class QProgressBar;
class QRadioButton;
class QSlider;
class QSpinBox;
class QCheckBox;
class QToolButton;

namespace tarvo {
class MainController;
class SpanMeasure;
} // namespace tarvo

namespace tarvo::ui {

class LazyPrinter;
class MeasureTool;
class ScopeWidget;

// The Display page's graph: tool bar, scope, window adjusters, slot selection with their Clear buttons,
// "Clear all graph's", RESET, the graphics-performance slider, the progress bar and the value display.
// A view over ScopeControls, DataFiles and DosingMonitor.
class ScopePanel : public QWidget {
    Q_OBJECT
public:
    // printer: where "Print graph" prints, as "Printer Setup" left it.
    ScopePanel(MainController& controller, LazyPrinter& printer, QWidget* parent = nullptr);

    ScopeWidget* scope() const { return scope_; }
    SpanMeasure* measure() const { return measure_; }
    MeasureTool* measureTool() const { return measureTool_; }
    QLabel* valueDisplay() const { return valueDisplay_; }
    QRadioButton* slotButton(int slot) const { return slots_[static_cast<std::size_t>(slot - 1)]; }
    void sync();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QWidget* buildToolBar();
    QWidget* buildAdjusters();
    QWidget* buildSlots();
    // "Print graph": the print dialog on the printer "Printer Setup" set up, then the picture.
    void printGraph();

    MainController& c_;
    LazyPrinter& printer_;
    ScopeWidget* scope_ = nullptr;
    SpanMeasure* measure_ = nullptr;
    MeasureTool* measureTool_ = nullptr;
    std::vector<QToolButton*> tools_;
    QToolButton* redraw_ = nullptr;
    QSpinBox* timeBase_ = nullptr;
    QSpinBox* counts_ = nullptr;
    QSpinBox* offset_ = nullptr;
    QSlider* performance_ = nullptr;
    QProgressBar* progress_ = nullptr;
    QLabel* valueDisplay_ = nullptr;
    QCheckBox* logGetDosed_ = nullptr;
    QCheckBox* logDosingGraph_ = nullptr;
    QCheckBox* showLastAverage_ = nullptr;
    std::array<QRadioButton*, 5> slots_{};
    bool syncing_ = false;
};

} // namespace tarvo::ui

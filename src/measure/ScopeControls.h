#pragma once

#include "GraphModel.h"

#include <QObject>
#include <QString>
#include <QStringList>
#include <array>

namespace tarvo {

class Acquisition;
class Operator;
class RecordingMemory;

// The operator's controls over the scope: the three window adjusters with their step rules, graph name
// and units, colour buttons, mouse modes and the tool bar, slot selection and the clearing buttons,
// Redraw, and the graphics performance slider. The widgets only mirror these values.
class ScopeControls : public QObject {
    Q_OBJECT
public:
    static constexpr const char* kUnitsTooLong = "Units - Max 3 character!";
    static constexpr const char* kNeverDrawn = "Can't redraw a graph that has never been drawed!";
    static constexpr const char* kScopeHint = "Y = Counts (n)    X = Milliseconds (ms)";
    static constexpr const char* kResetHint = "Reset display settings to default";
    static constexpr const char* kClearAllCaption = "Clear all graph's";
    static constexpr int kMaxUnits = 3;

    static constexpr const char* kMeasureHint =
        "Measure a span: drag over the graph for its statistics; Shift+drag sets two cursors for the "
        "difference between two points. Left/Right move the selection by a sample, Shift+Left/Right "
        "narrow or widen it; Ctrl+C copies the figures.";

    enum class Tool {
        Zoom,
        Pan,
        PencilDraw,
        Measure,
        Points,
        Lines,
        DeleteLastPencil,
        Redraw,
        SaveJpeg,
        SaveCsv,
        Print
    };
    struct ToolInfo {
        Tool tool;
        const char* hint;
    };
    // The tool bar in its order, with the hints that also name the buttons.
    static constexpr std::array<ToolInfo, 11> kTools{{{Tool::Zoom, "Zoom in and out"},
                                                      {Tool::Pan, "Pan graph / move graph"},
                                                      {Tool::PencilDraw, "Make pencil and lines drawing"},
                                                      {Tool::Measure, kMeasureHint},
                                                      {Tool::Points, "Show graph as points"},
                                                      {Tool::Lines, "Show graph as lines"},
                                                      {Tool::DeleteLastPencil, "Delete last pencil drawing"},
                                                      {Tool::Redraw, "Redraw graph"},
                                                      {Tool::SaveJpeg, "Save graph as JPEG"},
                                                      {Tool::SaveCsv, "Save graph as *.csv file"},
                                                      {Tool::Print, "Print graph"}}};
    struct ColourButton {
        GraphModel::ColourCode code;
        const char* caption;
    };
    static constexpr std::array<ColourButton, 6> kColourButtons{
        {{GraphModel::Background, "Background"},
         {GraphModel::IndicatorBackground, "Indicator background"},
         {GraphModel::Axis, "Axis color"},
         {GraphModel::Grid, "Grid color"},
         {GraphModel::Graphic, "Graphic color"},
         {GraphModel::Marks, "Marks color"}}};
    // Graphics performance positions 0..6: the live-draw refresh interval.
    static constexpr std::array<int, 7> kRefreshMs{400, 300, 200, 100, 50, 25, 10};

    struct Adjuster {
        const char* hint;
        int minimum;
        int maximum;
        int step;
        int position;
        int previous;
    };

    ScopeControls(GraphModel& graph, RecordingMemory& memory, Acquisition& acquisition, Operator& op,
                  QObject* parent = nullptr);

    static const QStringList& mouseModeNames();

    // Restoring the settings at start: caption, unit label and vertical window.
    void restore(const QString& graphName, const QString& units, double worldTop, double worldBottom);

    // Window adjusters. set*Position is the control's new position; *Up / *Down move it by its step.
    const Adjuster& timeBase() const { return time_; }
    const Adjuster& counts() const { return counts_; }
    const Adjuster& offset() const { return offset_; }
    void setTimeBasePosition(int position);
    void setCountsPosition(int position);
    void setOffsetPosition(int position);
    void countsUp() { setCountsPosition(counts_.position + counts_.step); }
    void countsDown() { setCountsPosition(counts_.position - counts_.step); }
    void offsetUp() { setOffsetPosition(offset_.position + offset_.step); }
    void offsetDown() { setOffsetPosition(offset_.position - offset_.step); }
    void timeBaseUp() { setTimeBasePosition(time_.position + time_.step); }
    void timeBaseDown() { setTimeBasePosition(time_.position - time_.step); }

    // Graph options.
    const QString& graphName() const { return graphName_; }
    void graphNameEdited(const QString& text);
    const QString& units() const { return units_; }
    // On each key release in the units edit; returns the text the edit keeps.
    QString unitsKeyUp(const QString& text);
    void colourButtonClicked(GraphModel::ColourCode code);

    // Mouse mode list (by position) and the two pencil buttons shown only in "mmPencil".
    void setMouseModeIndex(int index);
    bool pencilButtonsVisible() const { return graph_.mouseMode() == GraphModel::MouseMode::Pencil; }
    void clearPencilClicked();
    void clearLastPencilClicked();

    // Tool bar buttons that stay inside the scope (saving and printing belong to the files and the
    // windows).
    void toolClicked(Tool tool);
    void redrawClicked();

    // Slots.
    int selectedSlot() const;
    void selectSlot(int slot);
    void clearClicked(int slot);
    void clearAllClicked();
    void resetClicked();

    int graphicsPerformance() const { return performance_; }
    void setGraphicsPerformance(int position);

    // The run clock as the time base sees it: 0 after the clearing buttons until the next RUN.
    double runClock() const;

signals:
    void changed();

private:
    static int clamp(const Adjuster& a, int position);
    void updateOffsetStep();
    void zeroRunClock();

    GraphModel& graph_;
    RecordingMemory& memory_;
    Acquisition& acq_;
    Operator& op_;
    Adjuster time_{"Time adjustment", 3000, 30000, 1000, 3000, 3000};
    Adjuster counts_{"Counts adjustment", 10, 30000, 500, 10000, 10000};
    Adjuster offset_{"Offset adjustment", -30000, 30000, 20, 0, 0};
    QString graphName_ = QStringLiteral(">Change this text in Graph Options<");
    QString units_ = QStringLiteral("n");
    int performance_ = 3;
};

} // namespace tarvo

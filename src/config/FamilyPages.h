#pragma once

#include "ConfigHooks.h"
#include "link/PortSelection.h"

#include <QObject>
#include <QTimer>

namespace tarvo {

class CheckWeigherParameters;
class CommandLink;
class FilterSettings;
class Operator;
class TrackBarFilter;

// What showing a device-family page does: the filter read-back and, on the MXR 41xx and TCW 43xx
// pages, which of their groups the connected model gets.
class FamilyPages : public QObject {
    Q_OBJECT
public:
    // The groups of the MXR 41xx page; all hidden until a model that has them is shown the page.
    struct Mxr41Groups {
        bool lossWeigher = false;
        bool checkWeigher = false;
        bool dosing = false;
        bool trackBarFilter = false;
        bool modeLevelRate = false;
        bool operator==(const Mxr41Groups&) const = default;
    };
    static constexpr int kShowPauseMs = 500;
    static constexpr int kTcwReshowMs = 100;

    FamilyPages(CommandLink& link, PortSelection& ports, Operator& op, FilterSettings& mxr41Filter,
                FilterSettings& tcw43Filter, TrackBarFilter& trackBar, CheckWeigherParameters& checkWeigher,
                ConfigHooks hooks, QObject* parent = nullptr);

    const Mxr41Groups& mxr41Groups() const { return mxr41Groups_; }
    // The mode/level/rate group of the TCW 43xx page.
    bool tcw43FilterVisible() const { return tcw43FilterVisible_; }

    void pageShown(FamilyPage page);
    void pageHidden(FamilyPage page);

signals:
    void changed();
    // 100 ms after the TCW 43xx page's read-back: the page is enabled and shown again.
    void tcw43PageReshown();

private:
    void beginShow(FamilyPage page);
    void stopStream();
    void startStream();
    void mxr41Shown();
    void tcw43Shown();
    void trackBarPageShown(FamilyPage page);
    void setMxr41Groups(const Mxr41Groups& groups);

    CommandLink& link_;
    PortSelection& ports_;
    Operator& op_;
    FilterSettings& mxr41Filter_;
    FilterSettings& tcw43Filter_;
    TrackBarFilter& trackBar_;
    CheckWeigherParameters& checkWeigher_;
    ConfigHooks hooks_;
    Mxr41Groups mxr41Groups_;
    bool tcw43FilterVisible_ = false;
    QTimer tcw43Reshow_;
};

} // namespace tarvo

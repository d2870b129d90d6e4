#pragma once

#include "ConfigHooks.h"
#include "base/Choice.h"

#include <QObject>
#include <QString>
#include <QTimer>
#include <array>

namespace tarvo {

class CommandLink;
class Operator;

// The characteristic/track-bar filter of the MXR 21xx page, the MXR 23xx page and the model 4110 on
// the MXR 41xx page: one option per characteristic with a track bar of cut-off steps beside it. The
// characteristic and the step make one filter index, sent 500 ms after the operator's last change.
class TrackBarFilter : public QObject {
    Q_OBJECT
public:
    enum class Family { Mxr21 = 0, Mxr23 = 1, Mxr4110 = 2 };
    enum class Characteristic { Butterworth = 0, Bessel = 1, Gaussian = 2 };
    static constexpr int kFamilies = 3;
    static constexpr int kCharacteristics = 3;
    static constexpr int kChangeDelayMs = 500;
    static constexpr const char* kNotChanged = "Communication Error... Filter NOT changed!";
    static constexpr const char* kPreCommandFailed = "Filter value NOT changed - Communikation error!";
    static constexpr const char* kNotFound = "Device not found... Reset device and press \"Find device\"";

    TrackBarFilter(CommandLink& link, Operator& op, ConfigHooks hooks, QObject* parent = nullptr);

    // Which characteristics a family offers (the 21xx page has Bessel only).
    static bool offers(Family family, Characteristic c);
    // Track-bar range of a family: 1..maxPosition.
    static int maxPosition(Family family);
    // The filter index for a characteristic at a track-bar position.
    static int indexFor(Family family, Characteristic c, int position);
    // The caption-table entry of a family's table at an index; empty outside the table.
    static QString caption(Family family, int index);

    Characteristic selected(Family family) const { return families_[size_t(family)].selected; }
    int position(Family family, Characteristic c) const;
    // The caption label beside a characteristic's track bar.
    QString captionLabel(Family family, Characteristic c) const;
    int filterIndex() const { return filterIndex_; }
    bool changePending() const { return changeTimer_.isActive(); }

    // The operator's choices; each restarts the 500 ms wait before the filter command.
    void characteristicClicked(Family family, Characteristic c);
    void trackBarMoved(Family family, int position);

    // Read-back when the MXR 21xx or MXR 23xx page is shown.
    void pageShown(Family family);
    // The pre-command pair; the text for the information lines.
    QString changeFilter();

signals:
    void changed();

private:
    struct FamilyState {
        Characteristic selected = Characteristic::Butterworth;
        std::array<Choice<int>, kCharacteristics> positions{Choice<int>(1), Choice<int>(1), Choice<int>(1)};
        std::array<QString, kCharacteristics> captions;
    };
    void selectCharacteristic(Family family, Characteristic c);
    void positionChanged(Family family, Characteristic c, int position);
    void changeFilterTick();

    CommandLink& link_;
    Operator& op_;
    ConfigHooks hooks_;
    std::array<FamilyState, kFamilies> families_;
    // Shared by the three families, as the device has one filter.
    int filterIndex_ = 0;
    QTimer changeTimer_;
};

} // namespace tarvo

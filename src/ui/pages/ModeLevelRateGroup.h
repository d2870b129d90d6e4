#pragma once

#include <QGroupBox>
#include <QList>

class QAbstractButton;

namespace tarvo {
class FilterSettings;
class MainController;
} // namespace tarvo

namespace tarvo::ui {

// The filter mode, cut-off level and update-rate options of the MXR 41xx or TCW 43xx page. The
// captions follow the combination the filter settings hold.
class ModeLevelRateGroup : public QGroupBox {
    Q_OBJECT
public:
    ModeLevelRateGroup(FilterSettings& filter, MainController& controller, QWidget* parent = nullptr);

private:
    void sync();
    FilterSettings& filter_;
    MainController& c_;
    QGroupBox* modeBox_;
    QList<QAbstractButton*> modes_;
    QList<QAbstractButton*> levels_;
    QList<QAbstractButton*> rates_;
};

} // namespace tarvo::ui

#pragma once

#include "config/TrackBarFilter.h"

#include <QGroupBox>
#include <array>

class QRadioButton;
class QSlider;

namespace tarvo {
class MainController;
}

namespace tarvo::ui {

class ValueLabel;

// One option per filter characteristic with its track bar of cut-off steps and the caption of the
// cut-off it gives (MXR 21xx, MXR 23xx, model 4110).
class TrackBarFilterGroup : public QGroupBox {
    Q_OBJECT
public:
    TrackBarFilterGroup(TrackBarFilter::Family family, MainController& controller, QWidget* parent = nullptr);

private:
    void sync();
    TrackBarFilter::Family family_;
    TrackBarFilter& filter_;
    MainController& c_;
    std::array<QRadioButton*, TrackBarFilter::kCharacteristics> options_{};
    std::array<QSlider*, TrackBarFilter::kCharacteristics> bars_{};
    std::array<ValueLabel*, TrackBarFilter::kCharacteristics> captions_{};
};

} // namespace tarvo::ui

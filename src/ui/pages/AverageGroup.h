#pragma once

#include "link/PortSelection.h"

#include <QGroupBox>

class QCheckBox;
class QPushButton;
class QRadioButton;

namespace tarvo {
class MainController;
}

namespace tarvo::ui {

class ValueLabel;

// The check-weigher averaging of a family page: "Start Get Average", "Log Average Data", "Show Last
// Average" and the page's average display; on the MXR 41xx page also "Record raw Average-data", on the
// TCW 43xx page a result display whose click copies it to the big display.
class AverageGroup : public QGroupBox {
    Q_OBJECT
public:
    AverageGroup(FamilyPage family, MainController& controller, QWidget* parent = nullptr);

    QPushButton* averageButton() const { return average_; }
    ValueLabel* display() const { return display_; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void sync();

    FamilyPage family_;
    MainController& c_;
    QPushButton* average_;
    QCheckBox* logAverage_;
    QCheckBox* showLastAverage_;
    ValueLabel* display_;
    QRadioButton* startRecording_ = nullptr;
    QRadioButton* stopRecording_ = nullptr;
    bool syncing_ = false;
};

} // namespace tarvo::ui

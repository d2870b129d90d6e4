#pragma once

#include "measure/Acquisition.h"

#include <QElapsedTimer>
#include <QGroupBox>
#include <QTimer>

class QLabel;
class QPushButton;

namespace tarvo {
class MainController;
}

namespace tarvo::ui {

class StatusLamp;

// The Display page's run panel: RUN, STOP, PAUSE, TRIGGER, the status lamp and the StepTime and
// SampleNr labels. The core decides which buttons are down; a click only forwards.
class RunPanel : public QGroupBox {
    Q_OBJECT
public:
    explicit RunPanel(MainController& controller, QWidget* parent = nullptr);

private:
    void sync();
    void showCounts();
    void paintLamp();
    MainController& c_;
    QPushButton* run_;
    QPushButton* stop_;
    QPushButton* pause_;
    QPushButton* trigger_;
    StatusLamp* lamp_;
    QLabel* stepTime_;
    QLabel* sampleNr_;
    QElapsedTimer countsShown_;
    // RedBlink: the lamp goes on and off.
    QTimer blink_;
    bool blinkOn_ = true;
};

} // namespace tarvo::ui

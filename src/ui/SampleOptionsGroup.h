#pragma once

#include <QGroupBox>

class QCheckBox;
class QComboBox;
class QLineEdit;

namespace tarvo {
class SampleOptions;
}

namespace tarvo::ui {

// "Sample options" of the Options page: trigger level, sample time, wait for trigger, long-term
// sampling, status information and re-arm after drawing.
class SampleOptionsGroup : public QGroupBox {
    Q_OBJECT
public:
    explicit SampleOptionsGroup(SampleOptions& options, QWidget* parent = nullptr);
    void sync();

private:
    SampleOptions& options_;
    QLineEdit* triggerLevel_;
    QLineEdit* sampleTime_;
    QComboBox* waitForTrigger_;
    QCheckBox* longTerm_;
    QComboBox* useEvery_;
    QCheckBox* useStatus_;
    QCheckBox* retrig_;
};

} // namespace tarvo::ui

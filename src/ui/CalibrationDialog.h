#pragma once

#include <QWidget>
#include <array>

class QLineEdit;
class QPushButton;
class QRadioButton;

namespace tarvo {
class CalibrationWizard;
class MainController;
} // namespace tarvo

namespace tarvo::ui {

class ValueLabel;

// The "Calibration" window: the instruction line, the load with its units, the decimal point, CONTINUE
// and EXIT. A view of the calibration wizard: it shows and hides itself as the wizard says, and the
// main window stays locked while it is open.
class CalibrationDialog : public QWidget {
    Q_OBJECT
public:
    explicit CalibrationDialog(MainController& controller, QWidget* parent = nullptr);

    QLineEdit* loadField() const { return load_; }
    QPushButton* continueButton() const { return continue_; }
    QPushButton* exitButton() const { return exit_; }
    QRadioButton* decimalPointOption(int index) const { return decimalPoints_.at(std::size_t(index)); }

protected:
    // Closing the window by its own close box leaves the wizard as EXIT does; a running calibration
    // cannot be left that way.
    void closeEvent(QCloseEvent* event) override;
    // Escape is the keyboard's close box.
    void keyPressEvent(QKeyEvent* event) override;

private:
    void sync();

    MainController& c_;
    CalibrationWizard& wizard_;
    ValueLabel* instruction_;
    QLineEdit* load_;
    ValueLabel* units_;
    QWidget* decimalPointBox_;
    std::array<QRadioButton*, 6> decimalPoints_{};
    QPushButton* continue_;
    QPushButton* exit_;
};

} // namespace tarvo::ui

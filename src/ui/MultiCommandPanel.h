#pragma once

#include <QWidget>

class QCheckBox;
class QComboBox;
class QLineEdit;
class QListWidget;
class QPushButton;

namespace tarvo {
class MainController;
}

namespace tarvo::ui {

// The Commands page's multi-command line: the line and ENTER, the address range, "Send in loop" with its
// delay, "Clear after ENTER", "Clear", and the log list it shares with the command buttons.
class MultiCommandPanel : public QWidget {
    Q_OBJECT
public:
    explicit MultiCommandPanel(MainController& controller, QWidget* parent = nullptr);

    QLineEdit* lineEntry() const { return line_; }
    QListWidget* log() const { return log_; }

private:
    void sync();
    void followLocks();

    MainController& c_;
    QLineEdit* line_;
    QPushButton* enter_;
    QComboBox* from_;
    QComboBox* to_;
    QCheckBox* sendInLoop_;
    QLineEdit* loopDelay_;
    QCheckBox* clearAfterEnter_;
    QListWidget* log_;
};

} // namespace tarvo::ui

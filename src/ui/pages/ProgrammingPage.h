#pragma once

#include <QWidget>

class QPlainTextEdit;

namespace tarvo {
class MainController;
}

namespace tarvo::ui {

// The Programming page: loading a firmware file (by button or by dropping it on the window) and its
// summary.
class ProgrammingPage : public QWidget {
    Q_OBJECT
public:
    explicit ProgrammingPage(MainController& controller, QWidget* parent = nullptr);

private:
    MainController& c_;
    QPlainTextEdit* firmwareInfo_;
};

} // namespace tarvo::ui

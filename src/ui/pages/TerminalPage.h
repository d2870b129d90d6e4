#pragma once

#include <QWidget>

class QLineEdit;
class QPlainTextEdit;

namespace tarvo {
class MainController;
}

namespace tarvo::ui {

class BaudGroup;
class ComPortGroup;

// The Terminal page: the terminal display with the command entry under it and "Clear Terminal", its
// copies of the COM and rate choices, the port/baud caption, the search's activity light and Find Device.
class TerminalPage : public QWidget {
    Q_OBJECT
public:
    explicit TerminalPage(MainController& controller, QWidget* parent = nullptr);
    ComPortGroup* comPorts() const { return comPorts_; }
    QPlainTextEdit* display() const { return display_; }
    QLineEdit* commandEntry() const { return entry_; }

    // The page became the shown one, or stopped being it.
    void pageShown();
    void pageHidden();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void appendWritten(const QString& text);

    MainController& c_;
    ComPortGroup* comPorts_;
    BaudGroup* baud_;
    QPlainTextEdit* display_;
    QLineEdit* entry_;
};

} // namespace tarvo::ui

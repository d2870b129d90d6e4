#pragma once

#include <QWidget>

namespace tarvo {
class MainController;
}

namespace tarvo::ui {

class BaudGroup;
class ComPortGroup;

// The Terminal page: its copies of the COM and rate choices, the port/baud caption, the search's
// activity light and Find Device.
class TerminalPage : public QWidget {
    Q_OBJECT
public:
    explicit TerminalPage(MainController& controller, QWidget* parent = nullptr);
    ComPortGroup* comPorts() const { return comPorts_; }

private:
    MainController& c_;
    ComPortGroup* comPorts_;
    BaudGroup* baud_;
};

} // namespace tarvo::ui

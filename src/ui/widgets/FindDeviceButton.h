#pragma once

#include <QPushButton>
#include <functional>

namespace tarvo {
class MainController;
}

namespace tarvo::ui {

// "Find Device": runs the device search. Locked while a search runs and while RUN or TRIGGER records,
// since a search would take the recording's stream.
class FindDeviceButton : public QPushButton {
    Q_OBJECT
public:
    explicit FindDeviceButton(MainController& controller, QWidget* parent = nullptr);
    // A page whose search needs more around it (the Terminal page lends its matcher) gives its own.
    FindDeviceButton(MainController& controller, std::function<void()> search, QWidget* parent = nullptr);

private:
    void followLocks();
    MainController& c_;
};

// Whether the buttons that talk to the device are free: no search running and no recording.
bool deviceButtonsFree(MainController& controller);

} // namespace tarvo::ui

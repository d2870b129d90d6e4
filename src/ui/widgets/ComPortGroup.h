#pragma once

#include <QGroupBox>
#include <array>

class QRadioButton;

namespace tarvo {
class MainController;
}

namespace tarvo::ui {

// The eight COM choices (and, on the Options page, "CAN-bus"). Both pages' groups show the same choice;
// a port the start-up probe could not open stays disabled; each choice's tool tip is its device path.
class ComPortGroup : public QGroupBox {
    Q_OBJECT
public:
    ComPortGroup(const QString& title, bool withCanBus, MainController& controller,
                 QWidget* parent = nullptr);
    QRadioButton* comButton(int com) const { return com_[static_cast<std::size_t>(com - 1)]; }
    QRadioButton* canButton() const { return can_; }

private:
    void sync();
    MainController& c_;
    std::array<QRadioButton*, 8> com_{};
    QRadioButton* can_ = nullptr;
};

} // namespace tarvo::ui

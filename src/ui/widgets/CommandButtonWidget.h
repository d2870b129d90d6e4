#pragma once

#include <QPushButton>

class QLabel;

namespace tarvo {
struct CommandButton;
}

namespace tarvo::ui {

class ValueLabel;

// One button of the command panel, 100 by 45: the command, the text and the last value on three labels,
// the description as its hint. It reports a left press, a right press (or the context-menu key), the
// release and the pointer moving over it; the panel decides what they do.
class CommandButtonWidget : public QPushButton {
    Q_OBJECT
public:
    explicit CommandButtonWidget(const CommandButton& button, QWidget* parent = nullptr);

    // Shows the button's state as the panel holds it.
    void mirror(const CommandButton& button);
    ValueLabel* valueLabel() const { return value_; }

signals:
    void leftPressed();
    void rightPressed();
    void released();
    void hovered();

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

private:
    QLabel* command_;
    QLabel* text_;
    ValueLabel* value_;
};

} // namespace tarvo::ui

#include "CommandButtonWidget.h"

#include "ValueLabel.h"
#include "console/CommandButton.h"

#include <QContextMenuEvent>
#include <QLabel>
#include <QMouseEvent>

namespace tarvo::ui {

namespace {

QLabel* placed(QLabel* label, int top, int left, int width) {
    label->setGeometry(left, top, width, 14);
    QFont f = label->font();
    f.setPixelSize(11);
    label->setFont(f);
    // Presses reach the button under the label.
    label->setAttribute(Qt::WA_TransparentForMouseEvents);
    return label;
}

} // namespace

CommandButtonWidget::CommandButtonWidget(const CommandButton& button, QWidget* parent) : QPushButton(parent) {
    setFixedSize(CommandButton::kWidth, CommandButton::kHeight);
    setMouseTracking(true);
    command_ = placed(new ValueLabel(QString(), button.command + " command", this), 3, 45,
                      CommandButton::kWidth - 47);
    text_ =
        placed(new ValueLabel(QString(), button.command + " text", this), 15, 5, CommandButton::kWidth - 7);
    value_ = new ValueLabel(QString(), button.command + " value", this);
    placed(value_, 28, 5, CommandButton::kWidth - 7);
    if (button.colour) {
        QPalette p = palette();
        p.setColor(QPalette::Button, QColor::fromRgb(*button.colour));
        setPalette(p);
        setAutoFillBackground(true);
    }
    // The keyboard's press (space, accessibility tools) is a left press as well.
    connect(this, &QPushButton::clicked, this, &CommandButtonWidget::leftPressed);
    mirror(button);
}

void CommandButtonWidget::mirror(const CommandButton& button) {
    command_->setText(button.command);
    text_->setText(button.text);
    value_->setText(button.valueLabel);
    const QString hint = button.hint();
    for (QWidget* w : std::initializer_list<QWidget*>{this, command_, text_, value_})
        w->setToolTip(hint);
    setAccessibleName(button.command);
    setAccessibleDescription(hint);
    setDown(button.pressed);
}

void CommandButtonWidget::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton) {
        setDown(true);
        emit leftPressed();
    } else if (event->button() == Qt::RightButton) {
        setDown(true);
        emit rightPressed();
    }
    event->accept();
}

void CommandButtonWidget::mouseReleaseEvent(QMouseEvent* event) {
    setDown(false);
    emit released();
    event->accept();
}

void CommandButtonWidget::mouseMoveEvent(QMouseEvent* event) {
    emit hovered();
    event->accept();
}

void CommandButtonWidget::enterEvent(QEnterEvent* event) {
    QPushButton::enterEvent(event);
    emit hovered();
}

void CommandButtonWidget::focusInEvent(QFocusEvent* event) {
    QPushButton::focusInEvent(event);
    // Reached with the keyboard: the page's labels describe it as they do for the mouse.
    emit hovered();
}

void CommandButtonWidget::contextMenuEvent(QContextMenuEvent* event) {
    // The right mouse button has already been reported at its press.
    if (event->reason() == QContextMenuEvent::Keyboard)
        emit rightPressed();
    event->accept();
}

} // namespace tarvo::ui

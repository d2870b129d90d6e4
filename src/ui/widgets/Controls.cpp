#include "Controls.h"

#include "app/MainController.h"

namespace tarvo::ui {

namespace {
// Above zero while the program sets a state; an option it checks also unchecks its neighbour.
int programShowing = 0;

struct ProgramShowing {
    ProgramShowing() { ++programShowing; }
    ~ProgramShowing() { --programShowing; }
    ProgramShowing(const ProgramShowing&) = delete;
    ProgramShowing& operator=(const ProgramShowing&) = delete;
};
} // namespace

QPushButton* captionedButton(const QString& caption, QWidget* parent) {
    auto* b = new QPushButton(caption, parent);
    b->setAccessibleName(caption);
    return b;
}

QRadioButton* captionedOption(const QString& caption, QWidget* parent) {
    auto* r = new QRadioButton(caption, parent);
    r->setAccessibleName(caption);
    return r;
}

void onOperatorToggle(QAbstractButton* button, QObject* context, std::function<void(bool)> action) {
    QObject::connect(button, &QAbstractButton::toggled, context, [action = std::move(action)](bool on) {
        if (programShowing == 0)
            action(on);
    });
}

void onOperatorChoice(QAbstractButton* option, QObject* context, std::function<void()> action) {
    onOperatorToggle(option, context, [action = std::move(action)](bool on) {
        if (on)
            action();
    });
}

void showChecked(QAbstractButton* button, bool on) {
    const ProgramShowing showing;
    button->setChecked(on);
}

void onOperatorEdit(QLineEdit* edit, QObject* context, std::function<void(const QString&)> action) {
    QObject::connect(edit, &QLineEdit::textChanged, context,
                     [action = std::move(action)](const QString& text) {
                         if (programShowing == 0)
                             action(text);
                     });
}

void showText(QLineEdit* edit, const QString& text) {
    if (edit->text() == text)
        return;
    const ProgramShowing showing;
    edit->setText(text);
}

void showSelection(const QList<QAbstractButton*>& options, int index) {
    const ProgramShowing showing;
    for (int i = 0; i < options.size(); ++i) {
        QAbstractButton* b = options[i];
        if (b->isChecked() == (i == index))
            continue;
        // An exclusive option cannot be unchecked by the program while it is exclusive.
        const bool exclusive = b->autoExclusive();
        b->setAutoExclusive(false);
        b->setChecked(i == index);
        b->setAutoExclusive(exclusive);
    }
}

void whenLinkIdle(MainController& controller, std::function<void()> action) {
    controller.link().runWhenIdle(std::move(action));
}

} // namespace tarvo::ui

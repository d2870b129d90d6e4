#include "Controls.h"

#include "app/MainController.h"

namespace tarvo::ui {

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

void showSelection(const QList<QAbstractButton*>& options, int index) {
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

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

void whenLinkIdle(MainController& controller, std::function<void()> action) {
    controller.link().runWhenIdle(std::move(action));
}

} // namespace tarvo::ui

#include "ParameterGroup.h"

#include "app/MainController.h"
#include "config/ParameterFields.h"
#include "ui/widgets/Controls.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QVBoxLayout>

namespace tarvo::ui {

ParameterGroup::ParameterGroup(const QString& title, ParameterFields& fields, MainController& controller,
                               QWidget* parent)
    : QGroupBox(title, parent), fields_(fields), c_(controller) {
    setAccessibleName(title);
    auto* layout = new QVBoxLayout(this);
    auto* grid = new QGridLayout;
    // Two columns of fields keep the long groups on screen.
    const int perColumn = (fields_.count() + 1) / 2;
    for (int i = 0; i < fields_.count(); ++i) {
        const QString label = fields_.field(i).label;
        auto* edit = new QLineEdit(this);
        edit->setAccessibleName(label);
        edit->setObjectName(fields_.field(i).name);
        edit->setToolTip(fields_.field(i).hint);
        auto* text = new QLabel(label, this);
        text->setBuddy(edit);
        grid->addWidget(text, i % perColumn, (i / perColumn) * 2);
        grid->addWidget(edit, i % perColumn, (i / perColumn) * 2 + 1);
        onOperatorEdit(edit, this, [this, i](const QString& t) { fields_.setText(i, t); });
        edits_ << edit;
    }
    layout->addLayout(grid);
    extras_ = new QVBoxLayout;
    layout->addLayout(extras_);
    buttonRow_ = new QHBoxLayout;
    layout->addLayout(buttonRow_);
    progress_ = new QProgressBar(this);
    progress_->setAccessibleName(title + " progress");
    layout->addWidget(progress_);
    connect(&fields_, &ParameterFields::changed, this, &ParameterGroup::sync);
    connect(&c_, &MainController::pageControlEnabledChanged, this, &ParameterGroup::sync);
    sync();
}

QPushButton* ParameterGroup::addButton(const QString& caption, std::function<void()> action) {
    QPushButton* b = captionedButton(caption, this);
    connect(b, &QPushButton::clicked, this, [this, action] { whenLinkIdle(c_, action); });
    buttonRow_->addWidget(b);
    buttons_ << b;
    sync();
    return b;
}

void ParameterGroup::sync() {
    const bool idle = !fields_.busy();
    for (int i = 0; i < edits_.size(); ++i) {
        showText(edits_[i], fields_.text(i));
        edits_[i]->setEnabled(fields_.enabled() && idle);
    }
    // A second read or write of the same group cannot start while one runs, nor while another
    // exchange holds the page control.
    for (QPushButton* b : buttons_)
        b->setEnabled(idle && c_.pageControlEnabled());
    progress_->setVisible(!idle);
    progress_->setRange(0, std::max(1, fields_.progressTotal()));
    progress_->setValue(fields_.progressDone());
}

} // namespace tarvo::ui

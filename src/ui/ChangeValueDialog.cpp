#include "ChangeValueDialog.h"

#include "widgets/Controls.h"
#include "widgets/ValueLabel.h"

#include <QHBoxLayout>
#include <QLineEdit>
#include <QVBoxLayout>

namespace tarvo::ui {

ChangeValueDialog::ChangeValueDialog(QWidget* parent) : QDialog(parent) {
    setWindowTitle("Change value");
    setAccessibleName(windowTitle());
    setModal(true);
    auto* layout = new QVBoxLayout(this);
    caption_ = new ValueLabel(kDefaultCaption, "Value caption", this);
    range_ = new ValueLabel(QString(), "Range", this);
    units_ = new ValueLabel(QString(), "Units", this);
    value_ = new QLineEdit(this);
    value_->setAccessibleName(caption_->text());
    caption_->setBuddy(value_);
    layout->addWidget(caption_);
    layout->addWidget(value_);
    layout->addWidget(range_);
    layout->addWidget(units_);
    auto* buttons = new QHBoxLayout;
    QPushButton* ok = captionedButton("OK", this);
    QPushButton* cancel = captionedButton("Cancel", this);
    ok->setDefault(true);
    buttons->addWidget(ok);
    buttons->addWidget(cancel);
    layout->addLayout(buttons);
    connect(value_, &QLineEdit::returnPressed, this, &QDialog::accept);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
    connect(cancel, &QPushButton::clicked, this, &ChangeValueDialog::cancelled);
    // Closing the window any other way (Escape, the close box) is a Cancel too.
    connect(this, &QDialog::rejected, value_, &QLineEdit::clear);
}

void ChangeValueDialog::cancelled() {
    value_->clear();
    reject();
}

void ChangeValueDialog::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    value_->clear();
    value_->setFocus();
}

QString ChangeValueDialog::ask(const QString& caption, const QString& range, const QString& units) {
    caption_->setText(caption);
    value_->setAccessibleName(caption);
    range_->setText(range);
    units_->setText(units);
    exec();
    return value_->text();
}

} // namespace tarvo::ui

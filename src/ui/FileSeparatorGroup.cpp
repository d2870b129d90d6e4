#include "FileSeparatorGroup.h"

#include "measure/DataFiles.h"
#include "widgets/Controls.h"

#include <QHBoxLayout>
#include <QLineEdit>
#include <QRadioButton>

namespace tarvo::ui {

FileSeparatorGroup::FileSeparatorGroup(DataFiles& files, QWidget* parent)
    : QGroupBox("File Separator", parent), files_(files) {
    auto* layout = new QHBoxLayout(this);
    comma_ = new QRadioButton("Comma", this);
    semicolon_ = new QRadioButton("Semicolon", this);
    other_ = new QRadioButton("Other", this);
    edit_ = new QLineEdit(this);
    edit_->setAccessibleName("File Separator");
    edit_->setMaximumWidth(60);
    for (QRadioButton* r : {comma_, semicolon_, other_}) {
        r->setAccessibleName(r->text());
        layout->addWidget(r);
    }
    layout->addWidget(edit_);
    onOperatorChoice(comma_, this, [this] { files_.setSeparatorChoice(DataFiles::Separator::Comma); });
    onOperatorChoice(semicolon_, this,
                     [this] { files_.setSeparatorChoice(DataFiles::Separator::Semicolon); });
    onOperatorChoice(other_, this, [this] { files_.setSeparatorChoice(DataFiles::Separator::Other); });
    onOperatorEdit(edit_, this, [this](const QString& text) { files_.separatorEdited(text); });
    connect(&files_, &DataFiles::changed, this, &FileSeparatorGroup::sync);
    sync();
}

void FileSeparatorGroup::sync() {
    switch (files_.separatorChoice()) {
    case DataFiles::Separator::Comma:
        showChecked(comma_, true);
        break;
    case DataFiles::Separator::Semicolon:
        showChecked(semicolon_, true);
        break;
    case DataFiles::Separator::Other:
        showChecked(other_, true);
        break;
    }
    edit_->setReadOnly(files_.separatorLocked());
    showText(edit_, files_.separator());
}

} // namespace tarvo::ui

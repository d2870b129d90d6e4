#include "GraphOptionsGroup.h"

#include "app/MainController.h"
#include "widgets/Controls.h"

#include <QComboBox>
#include <QFormLayout>
#include <QGridLayout>
#include <QLineEdit>
#include <QPushButton>

namespace tarvo::ui {

GraphOptionsGroup::GraphOptionsGroup(MainController& controller, QWidget* parent)
    : QGroupBox("Graph Options", parent), c_(controller) {
    ScopeControls& sc = c_.scopeControls();
    auto* form = new QFormLayout(this);
    name_ = new QLineEdit(sc.graphName(), this);
    name_->setAccessibleName("Graph name");
    units_ = new QLineEdit(sc.units(), this);
    units_->setAccessibleName("Units");
    form->addRow("Graph name", name_);
    form->addRow("Units", units_);
    onOperatorEdit(name_, this, [&sc](const QString& text) { sc.graphNameEdited(text); });
    // The units check runs as the operator types, and on text that assistive technology puts in.
    onOperatorEdit(units_, this, [this, &sc](const QString& text) { showText(units_, sc.unitsKeyUp(text)); });

    auto* colours = new QGridLayout;
    int i = 0;
    for (const ScopeControls::ColourButton& b : ScopeControls::kColourButtons) {
        auto* button = new QPushButton(b.caption, this);
        button->setAccessibleName(b.caption);
        colours->addWidget(button, i / 2, i % 2);
        connect(button, &QPushButton::clicked, this, [&sc, code = b.code] { sc.colourButtonClicked(code); });
        ++i;
    }
    form->addRow(colours);

    mouseMode_ = new QComboBox(this);
    mouseMode_->addItems(ScopeControls::mouseModeNames());
    mouseMode_->setAccessibleName("Mouse mode");
    form->addRow("Mouse mode", mouseMode_);
    clPencil_ = new QPushButton("Cl pencil", this);
    clPencil_->setToolTip("Clear pencil drawings");
    clPencil_->setAccessibleName("Cl pencil");
    clLastPencil_ = new QPushButton("Cl last pencil", this);
    clLastPencil_->setToolTip("Clear last pencil drawing");
    clLastPencil_->setAccessibleName("Cl last pencil");
    form->addRow(clPencil_, clLastPencil_);
    connect(mouseMode_, &QComboBox::activated, this, [&sc](int index) { sc.setMouseModeIndex(index); });
    connect(clPencil_, &QPushButton::clicked, this, [&sc] { sc.clearPencilClicked(); });
    connect(clLastPencil_, &QPushButton::clicked, this, [&sc] { sc.clearLastPencilClicked(); });
    connect(&sc, &ScopeControls::changed, this, &GraphOptionsGroup::sync);
    sync();
}

void GraphOptionsGroup::sync() {
    ScopeControls& sc = c_.scopeControls();
    showText(name_, sc.graphName());
    if (!units_->hasFocus())
        showText(units_, sc.units());
    mouseMode_->setCurrentIndex(static_cast<int>(c_.graph().mouseMode()));
    clPencil_->setVisible(sc.pencilButtonsVisible());
    clLastPencil_->setVisible(sc.pencilButtonsVisible());
}

} // namespace tarvo::ui

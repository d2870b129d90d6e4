#include "ProgrammingPage.h"

#include "app/MainController.h"
#include "ui/widgets/Controls.h"

#include <QLabel>
#include <QPlainTextEdit>
#include <QVBoxLayout>

namespace tarvo::ui {

ProgrammingPage::ProgrammingPage(MainController& controller, QWidget* parent)
    : QWidget(parent), c_(controller) {
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(
        new QLabel("You can Load Firmware by dropping a *.qmf file on the Tarvo window!", this));
    auto* load = captionedButton("Load Firmware (*.qmf)", this);
    connect(load, &QPushButton::clicked, this, [this] { c_.loadFirmwareClicked(); });
    layout->addWidget(load);
    firmwareInfo_ = new QPlainTextEdit(this);
    firmwareInfo_->setReadOnly(true);
    firmwareInfo_->setAccessibleName("Firmware file");
    layout->addWidget(firmwareInfo_, 1);
    connect(&c_, &MainController::firmwareLoaded, this,
            [this] { firmwareInfo_->setPlainText(c_.firmwareLoader().summaryLines().join(u'\n')); });
}

} // namespace tarvo::ui

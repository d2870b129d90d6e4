#include "ProgrammingPage.h"

#include "app/MainController.h"
#include "ui/widgets/Controls.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QVBoxLayout>
#include <algorithm>

namespace tarvo::ui {

namespace {

QComboBox* addressSelector(const QString& label, QWidget* parent, QHBoxLayout* row) {
    auto* caption = new QLabel(label, parent);
    auto* box = new QComboBox(parent);
    box->addItems(SettingsImageTransfer::addressChoices());
    box->setAccessibleName(label);
    caption->setBuddy(box);
    row->addWidget(caption);
    row->addWidget(box);
    return box;
}

} // namespace

ProgrammingPage::ProgrammingPage(MainController& controller, QWidget* parent)
    : QWidget(parent), c_(controller) {
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(
        new QLabel("You can Load Firmware by dropping a *.qmf file on the Tarvo window!", this));
    load_ = captionedButton("Load Firmware (*.qmf)", this);
    connect(load_, &QPushButton::clicked, this, [this] { c_.loadFirmwareClicked(); });
    layout->addWidget(load_);
    firmwareInfo_ = new QPlainTextEdit(this);
    firmwareInfo_->setReadOnly(true);
    firmwareInfo_->setAccessibleName("Firmware file");
    layout->addWidget(firmwareInfo_, 1);
    connect(&c_, &MainController::firmwareLoaded, this,
            [this] { firmwareInfo_->setPlainText(c_.firmwareLoader().summaryLines().join(u'\n')); });
    layout->addWidget(buildUpgrade());
    layout->addWidget(buildImages(), 1);
    showActivity();
}

QWidget* ProgrammingPage::buildUpgrade() {
    auto* box = new QWidget(this);
    auto* row = new QHBoxLayout(box);
    row->setContentsMargins(0, 0, 0, 0);
    upgrade_ = captionedButton("Upgrade Firmware", box);
    testFixture_ = new QCheckBox("MXR Testfixture", box);
    testFixture_->setAccessibleName("MXR Testfixture");
    programmingProgress_ = new QProgressBar(box);
    programmingProgress_->setAccessibleName("Programming progress");
    programmingProgress_->setRange(0, 1);
    programmingProgress_->setValue(0);
    row->addWidget(upgrade_);
    row->addWidget(testFixture_);
    row->addWidget(programmingProgress_, 1);

    FirmwareUpgrade& upgrade = c_.firmwareUpgrade();
    testFixture_->setChecked(upgrade.testFixture());
    // The upgrade talks to the device from its first byte: never inside another transaction's wait.
    connect(upgrade_, &QPushButton::clicked, this,
            [this] { whenLinkIdle(c_, [this] { c_.firmwareUpgrade().upgradeFirmwareClicked(); }); });
    connect(testFixture_, &QCheckBox::toggled, this,
            [this](bool on) { c_.firmwareUpgrade().setTestFixture(on); });
    connect(&upgrade, &FirmwareUpgrade::testFixtureChanged, testFixture_, &QCheckBox::setChecked);
    connect(&upgrade, &FirmwareUpgrade::progressShown, this, [this](int current, qint64 total) {
        const int maximum = int(std::clamp<qint64>(total, 1, 0x10000));
        programmingProgress_->setRange(0, maximum);
        programmingProgress_->setValue(std::clamp(current, 0, maximum));
    });
    connect(&upgrade, &FirmwareUpgrade::runningChanged, this, &ProgrammingPage::showActivity);
    return box;
}

QWidget* ProgrammingPage::buildImages() {
    auto* group = new QGroupBox("Settings image", this);
    group->setAccessibleName("Settings image");
    auto* column = new QVBoxLayout(group);
    auto* row = new QHBoxLayout;
    getImage_ = captionedButton("Get Image", group);
    putImage_ = captionedButton("Put Image", group);
    row->addWidget(getImage_);
    row->addWidget(putImage_);
    from_ = addressSelector("From address", group, row);
    to_ = addressSelector("To address", group, row);
    row->addStretch(1);
    column->addLayout(row);
    imageProgress_ = new QProgressBar(group);
    imageProgress_->setAccessibleName("Image progress");
    imageProgress_->setRange(0, 1);
    imageProgress_->setValue(0);
    column->addWidget(imageProgress_);
    log_ = new QListWidget(group);
    log_->setAccessibleName("Put image log");
    column->addWidget(log_, 1);

    SettingsImageTransfer& images = c_.settingsImages();
    from_->setCurrentText(images.fromAddress());
    to_->setCurrentText(images.toAddress());
    connect(getImage_, &QPushButton::clicked, this,
            [this] { whenLinkIdle(c_, [this] { c_.settingsImages().getImageClicked(); }); });
    connect(putImage_, &QPushButton::clicked, this,
            [this] { whenLinkIdle(c_, [this] { c_.settingsImages().putImageClicked(); }); });
    connect(from_, &QComboBox::currentTextChanged, this,
            [this](const QString& text) { c_.settingsImages().setFromAddress(text); });
    connect(to_, &QComboBox::currentTextChanged, this,
            [this](const QString& text) { c_.settingsImages().setToAddress(text); });
    connect(&images, &SettingsImageTransfer::addressesChanged, this, [this] {
        from_->setCurrentText(c_.settingsImages().fromAddress());
        to_->setCurrentText(c_.settingsImages().toAddress());
    });
    connect(&images, &SettingsImageTransfer::progressChanged, this, [this](int value, int maximum) {
        imageProgress_->setRange(0, std::max(1, maximum));
        imageProgress_->setValue(std::clamp(value, 0, std::max(1, maximum)));
    });
    connect(&images, &SettingsImageTransfer::logChanged, this, [this](const QStringList& lines) {
        log_->clear();
        log_->addItems(lines);
    });
    connect(&images, &SettingsImageTransfer::activityChanged, this, &ProgrammingPage::showActivity);
    return group;
}

void ProgrammingPage::showActivity() {
    // One device dialogue at a time from this page.
    const bool idle = !c_.firmwareUpgrade().isRunning() && !c_.settingsImages().isBusy();
    for (QWidget* w :
         {static_cast<QWidget*>(load_), static_cast<QWidget*>(upgrade_), static_cast<QWidget*>(testFixture_),
          static_cast<QWidget*>(getImage_), static_cast<QWidget*>(putImage_), static_cast<QWidget*>(from_),
          static_cast<QWidget*>(to_)})
        w->setEnabled(idle);
}

} // namespace tarvo::ui

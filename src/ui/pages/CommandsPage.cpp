#include "CommandsPage.h"

#include "app/MainController.h"
#include "ui/MultiCommandPanel.h"
#include "ui/widgets/CommandButtonWidget.h"
#include "ui/widgets/Controls.h"
#include "ui/widgets/ValueLabel.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QScrollArea>
#include <QScrollBar>
#include <QVBoxLayout>

namespace tarvo::ui {

namespace {
// The sender's column takes the page's first kFirstLeft pixels; the labels row the first kFirstTop.
constexpr int kSenderWidth = CommandPanel::kFirstLeft - 10;
} // namespace

CommandsPage::CommandsPage(MainController& controller, QWidget* parent) : QWidget(parent), c_(controller) {
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(10);
    sender_ = new MultiCommandPanel(c_, this);
    sender_->setFixedWidth(kSenderWidth);
    layout->addWidget(sender_);

    auto* right = new QVBoxLayout;
    right->setContentsMargins(0, 0, 0, 0);
    auto* top = new QGridLayout;
    showCmd_ = captionedButton("Show CMD", this);
    description_ = new ValueLabel(QString(), "Description", this);
    max_ = new ValueLabel(QString(), "Max", this);
    min_ = new ValueLabel(QString(), "Min", this);
    unit_ = new ValueLabel(QString(), "Unit", this);
    value_ = new ValueLabel(QString(), "Value", this);
    top->addWidget(showCmd_, 0, 0);
    top->addWidget(description_, 0, 1, 1, 4);
    top->addWidget(max_, 1, 0);
    top->addWidget(min_, 1, 1);
    top->addWidget(unit_, 1, 2);
    top->addWidget(value_, 1, 3);
    top->setColumnStretch(4, 1);
    top->setContentsMargins(0, 0, 0, 0);
    auto* labels = new QWidget(this);
    labels->setLayout(top);
    // The row is as high as its button and labels need (at least the panel's first row), never squeezed:
    // the buttons below sit in their own scroll area, so their positions do not depend on it.
    labels->setMinimumHeight(std::max(CommandPanel::kFirstTop, top->sizeHint().height()));
    labels->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
    right->addWidget(labels);
    scroll_ = new QScrollArea(this);
    scroll_->setAccessibleName("Command buttons");
    area_ = new QWidget;
    scroll_->setWidget(area_);
    scroll_->setWidgetResizable(false);
    right->addWidget(scroll_, 1);
    layout->addLayout(right, 1);

    CommandPanel& panel = c_.commandPanel();
    connect(showCmd_, &QPushButton::clicked, this, [this] {
        fitArea();
        whenLinkIdle(c_, [this] { c_.commandPanel().showCmdClicked(); });
    });
    connect(&panel, &CommandPanel::buttonsCleared, this, &CommandsPage::buttonsCleared);
    connect(&panel, &CommandPanel::buttonAdded, this, &CommandsPage::buttonAdded);
    connect(&panel, &CommandPanel::buttonChanged, this, &CommandsPage::buttonChanged);
    connect(&panel, &CommandPanel::labelsChanged, this, &CommandsPage::showLabels);
    connect(&panel, &CommandPanel::busyChanged, this, &CommandsPage::followLocks);
    connect(&c_.multiCommandSender(), &MultiCommandSender::changed, this, &CommandsPage::followLocks);
    for (int i = 0; i < static_cast<int>(panel.buttons().size()); ++i)
        buttonAdded(i);
    showLabels();
    followLocks();
}

void CommandsPage::pageShown() {
    c_.multiCommandSender().commandsPageShown();
    c_.firmwareUpgrade().stopProgressTimer();
}

void CommandsPage::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    fitArea();
}

void CommandsPage::fitArea() {
    const int viewport = scroll_->viewport()->width();
    c_.commandPanel().setAreaWidth(CommandPanel::kFirstLeft + viewport);
    int bottom = 0;
    int right = 0;
    for (const CommandButtonWidget* b : buttons_) {
        bottom = std::max(bottom, b->geometry().bottom() + 1);
        right = std::max(right, b->geometry().right() + 1);
    }
    area_->resize(std::max(viewport, right), std::max(scroll_->viewport()->height(), bottom));
}

void CommandsPage::buttonsCleared() {
    for (CommandButtonWidget* b : buttons_)
        b->deleteLater();
    buttons_.clear();
    fitArea();
}

void CommandsPage::buttonAdded(int index) {
    const CommandButton& button = c_.commandPanel().buttons()[static_cast<std::size_t>(index)];
    auto* widget = new CommandButtonWidget(button, area_);
    // The panel's positions count from the page's corner; the area starts after the sender's column and
    // the labels row.
    widget->move(button.left - CommandPanel::kFirstLeft, button.top - CommandPanel::kFirstTop);
    connect(widget, &CommandButtonWidget::leftPressed, this,
            [this, index] { whenLinkIdle(c_, [this, index] { c_.commandPanel().leftPressed(index); }); });
    connect(widget, &CommandButtonWidget::rightPressed, this,
            [this, index] { whenLinkIdle(c_, [this, index] { c_.commandPanel().rightPressed(index); }); });
    connect(widget, &CommandButtonWidget::released, this,
            [this, index] { c_.commandPanel().released(index); });
    connect(widget, &CommandButtonWidget::hovered, this, [this, index] { c_.commandPanel().hovered(index); });
    widget->setEnabled(!c_.commandPanel().isScanning());
    widget->show();
    buttons_.push_back(widget);
    fitArea();
}

void CommandsPage::buttonChanged(int index) {
    if (index < 0 || index >= static_cast<int>(buttons_.size()))
        return;
    buttons_[static_cast<std::size_t>(index)]->mirror(
        c_.commandPanel().buttons()[static_cast<std::size_t>(index)]);
}

void CommandsPage::showLabels() {
    const CommandPanel& panel = c_.commandPanel();
    description_->setText(panel.descriptionLabel());
    max_->setText(panel.maxLabel());
    min_->setText(panel.minLabel());
    unit_->setText(panel.unitLabel());
    value_->setText(panel.valueLabel());
}

void CommandsPage::followLocks() {
    // A new scan waits for the line being sent; the buttons wait for the scan.
    const bool scanning = c_.commandPanel().isScanning();
    showCmd_->setEnabled(!scanning && !c_.multiCommandSender().isSending());
    for (CommandButtonWidget* b : buttons_)
        b->setEnabled(!scanning);
}

} // namespace tarvo::ui

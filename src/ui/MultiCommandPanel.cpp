#include "MultiCommandPanel.h"

#include "app/MainController.h"
#include "widgets/Controls.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QVBoxLayout>

namespace tarvo::ui {

namespace {

QStringList addressChoices() {
    QStringList choices{QStringLiteral("None")};
    for (int a = 0; a <= 63; ++a)
        choices << QStringLiteral("%1").arg(a, 2, 10, QLatin1Char('0'));
    return choices;
}

// An entry or list named by the label beside it.
template <typename T>
T* labelled(const QString& caption, T* control, QGridLayout* grid, int row, QWidget* parent) {
    auto* label = new QLabel(caption, parent);
    label->setBuddy(control);
    control->setAccessibleName(caption);
    grid->addWidget(label, row, 0);
    grid->addWidget(control, row, 1);
    return control;
}

} // namespace

MultiCommandPanel::MultiCommandPanel(MainController& controller, QWidget* parent)
    : QWidget(parent), c_(controller) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    auto* grid = new QGridLayout;
    line_ = labelled("Command line", new QLineEdit(this), grid, 0, this);
    line_->setToolTip(QString::fromLatin1(MultiCommandSender::kHint));
    enter_ = captionedButton("ENTER", this);
    grid->addWidget(enter_, 1, 1);
    from_ = labelled("From adr:", new QComboBox(this), grid, 2, this);
    to_ = labelled("To adr:", new QComboBox(this), grid, 3, this);
    from_->addItems(addressChoices());
    to_->addItems(addressChoices());
    sendInLoop_ = new QCheckBox("Send in loop", this);
    sendInLoop_->setAccessibleName(sendInLoop_->text());
    grid->addWidget(sendInLoop_, 4, 0, 1, 2);
    loopDelay_ = labelled("Loop delay (ms)", new QLineEdit(this), grid, 5, this);
    clearAfterEnter_ = new QCheckBox("Clear after ENTER", this);
    clearAfterEnter_->setAccessibleName(clearAfterEnter_->text());
    grid->addWidget(clearAfterEnter_, 6, 0, 1, 2);
    QPushButton* clear = captionedButton("Clear", this);
    grid->addWidget(clear, 7, 1);
    layout->addLayout(grid);
    log_ = new QListWidget(this);
    log_->setAccessibleName("Log");
    log_->setUniformItemSizes(true);
    layout->addWidget(log_, 1);

    MultiCommandSender& s = c_.multiCommandSender();
    auto send = [this] { whenLinkIdle(c_, [this] { c_.multiCommandSender().enterClicked(); }); };
    onOperatorEdit(line_, &s, [&s](const QString& text) { s.setLine(text); });
    connect(line_, &QLineEdit::returnPressed, this, send);
    connect(enter_, &QPushButton::clicked, this, send);
    connect(from_, &QComboBox::activated, this,
            [this] { c_.multiCommandSender().setFromAddress(from_->currentText()); });
    connect(to_, &QComboBox::activated, this,
            [this] { c_.multiCommandSender().setToAddress(to_->currentText()); });
    onOperatorToggle(sendInLoop_, &s, [&s](bool on) { s.sendInLoopToggled(on); });
    onOperatorEdit(loopDelay_, &s, [&s](const QString& text) { s.setLoopDelay(text); });
    onOperatorToggle(clearAfterEnter_, &s, [&s](bool on) { s.setClearAfterEnter(on); });
    connect(clear, &QPushButton::clicked, &s, &MultiCommandSender::clearClicked);
    connect(&s, &MultiCommandSender::changed, this, &MultiCommandPanel::sync);
    connect(&s, &MultiCommandSender::lineFocusRequested, this, [this] { line_->setFocus(); });
    connect(&c_.commandPanel(), &CommandPanel::busyChanged, this, &MultiCommandPanel::followLocks);

    CommandLog& log = c_.commandLog();
    for (const QString& line : log.lines())
        log_->addItem(line);
    connect(&log, &CommandLog::lineAdded, this, [this](const QString& line) {
        log_->addItem(line);
        log_->scrollToBottom();
    });
    connect(&log, &CommandLog::cleared, log_, &QListWidget::clear);
    // Dropping the oldest tenth happens rarely; the list is simply filled anew.
    connect(&log, &CommandLog::trimmed, this, [this] {
        log_->clear();
        log_->addItems(c_.commandLog().lines());
        log_->scrollToBottom();
    });
    sync();
}

void MultiCommandPanel::sync() {
    const MultiCommandSender& s = c_.multiCommandSender();
    showText(line_, s.line());
    showText(loopDelay_, s.loopDelay());
    from_->setCurrentText(s.fromAddress());
    to_->setCurrentText(s.toAddress());
    showChecked(sendInLoop_, s.sendInLoop());
    showChecked(clearAfterEnter_, s.clearAfterEnter());
    followLocks();
}

void MultiCommandPanel::followLocks() {
    // One line at a time, and none while the command buttons are being built.
    enter_->setEnabled(!c_.multiCommandSender().isSending() && !c_.commandPanel().isScanning());
}

} // namespace tarvo::ui

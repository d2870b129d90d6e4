#include "TerminalPage.h"

#include "app/MainController.h"
#include "ui/widgets/BaudGroup.h"
#include "ui/widgets/ComPortGroup.h"
#include "ui/widgets/Controls.h"
#include "ui/widgets/FindDeviceButton.h"
#include "ui/widgets/PortBaudCaption.h"
#include "ui/widgets/SearchActivity.h"

#include <QFontDatabase>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QVBoxLayout>

namespace tarvo::ui {

namespace {
constexpr int kColumns = 100;
// The view keeps this many lines; the terminal itself bounds what it holds.
constexpr int kViewLines = 20000;
} // namespace

TerminalPage::TerminalPage(MainController& controller, QWidget* parent) : QWidget(parent), c_(controller) {
    auto* layout = new QHBoxLayout(this);

    auto* terminal = new QVBoxLayout;
    display_ = new QPlainTextEdit(this);
    display_->setReadOnly(true);
    display_->setAccessibleName("Terminal");
    display_->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    display_->setMaximumBlockCount(kViewLines);
    display_->setMinimumWidth(display_->fontMetrics().horizontalAdvance(QString(kColumns, u'M')) +
                              display_->verticalScrollBar()->sizeHint().width() + 12);
    display_->installEventFilter(this);
    terminal->addWidget(display_, 1);
    auto* entryRow = new QHBoxLayout;
    auto* entryLabel = new QLabel("Command", this);
    entry_ = new QLineEdit(this);
    entry_->setAccessibleName(entryLabel->text());
    entryLabel->setBuddy(entry_);
    entryRow->addWidget(entryLabel);
    entryRow->addWidget(entry_, 1);
    terminal->addLayout(entryRow);
    layout->addLayout(terminal, 1);

    comPorts_ = new ComPortGroup("COM port", false, c_, this);
    layout->addWidget(comPorts_, 0, Qt::AlignTop);
    baud_ = new BaudGroup(this);
    connect(baud_, &BaudGroup::rateClicked, this,
            [this](int rate) { whenLinkIdle(c_, [this, rate] { c_.ports().baudClicked(rate); }); });
    connect(&c_.ports(), &PortSelection::changed, this, [this] { baud_->showRate(c_.ports().baudChoice()); });
    baud_->showRate(c_.ports().baudChoice());
    layout->addWidget(baud_, 0, Qt::AlignTop);
    auto* right = new QVBoxLayout;
    right->addWidget(new PortBaudCaption(c_.ports(), this));
    right->addWidget(new SearchActivity(c_.ports(), this));
    right->addWidget(new FindDeviceButton(
        c_, [this] { c_.terminal().findDeviceClicked(); }, this));
    QPushButton* clear = captionedButton("Clear Terminal", this);
    right->addWidget(clear);
    right->addStretch();
    layout->addLayout(right);

    Terminal& t = c_.terminal();
    onOperatorEdit(entry_, this, [this](const QString& text) { c_.terminal().setCommandEntry(text); });
    connect(entry_, &QLineEdit::returnPressed, this, [this] {
        c_.terminal().setCommandEntry(entry_->text());
        // A command written while a transaction waits would be taken for that transaction's reply.
        whenLinkIdle(c_, [this] {
            c_.terminal().commandEntered();
            entry_->setFocus();
        });
    });
    connect(&t, &Terminal::commandEntryChanged, entry_,
            [this](const QString& text) { showText(entry_, text); });
    connect(clear, &QPushButton::clicked, this, [this] { c_.terminal().clearClicked(); });
    connect(&t, &Terminal::written, this, &TerminalPage::appendWritten);
    connect(&t, &Terminal::displayCleared, display_, &QPlainTextEdit::clear);
    connect(&t, &Terminal::displayTrimmed, this,
            [this] { display_->setPlainText(Terminal::screenText(c_.terminal().display())); });
}

void TerminalPage::appendWritten(const QString& text) {
    QTextCursor end = display_->textCursor();
    end.movePosition(QTextCursor::End);
    end.insertText(Terminal::screenText(text));
    display_->setTextCursor(end);
    display_->ensureCursorVisible();
}

void TerminalPage::pageShown() {
    c_.terminal().terminalPageShown();
    entry_->setFocus();
}

void TerminalPage::pageHidden() {
    c_.terminal().terminalPageHidden();
}

bool TerminalPage::eventFilter(QObject* watched, QEvent* event) {
    if (watched != display_ || event->type() != QEvent::KeyPress)
        return QWidget::eventFilter(watched, event);
    auto* key = static_cast<QKeyEvent*>(event);
    // Copying and moving through the display work as in any text view; typed characters and Enter are
    // written into it (never to the device).
    if (key->matches(QKeySequence::Copy) || key->matches(QKeySequence::SelectAll))
        return false;
    if (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) {
        c_.terminal().displayKeyTyped(QString(), true);
        return true;
    }
    if (!key->text().isEmpty() && key->text().front().isPrint()) {
        c_.terminal().displayKeyTyped(key->text(), false);
        return true;
    }
    return false;
}

} // namespace tarvo::ui

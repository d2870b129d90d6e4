#pragma once

#include <QByteArrayView>
#include <QObject>
#include <QString>

namespace tarvo {

class CommandLink;
class Discovery;
class Operator;

// The Terminal page: any command typed into its entry goes straight to the device's line (the serial port,
// or the CAN bridge when the CAN bus is the link), and every line the device sends (answers and
// unsolicited lines alike) is written to the display as "Answer: " lines.
// While the page is shown the reply matcher runs in the link's terminal mode.
class Terminal : public QObject {
    Q_OBJECT
public:
    static constexpr const char* kPrompt = "\r\n Type Command: ";
    // The display keeps about this many characters; the oldest lines go first.
    static constexpr qsizetype kDisplayLimit = 1 << 20;

    Terminal(CommandLink& link, Discovery& discovery, Operator& op, QObject* parent = nullptr);

    void terminalPageShown();
    void terminalPageHidden();
    // Terminal mode lasts while the page is shown.
    bool isActive() const { return active_; }

    const QString& commandEntry() const { return entry_; }
    void setCommandEntry(const QString& text) { entry_ = text; }
    // Enter in the command entry: echo, write the text and "\r" to the port, clear the entry.
    void commandEntered();
    // A key typed into the display itself: shown, never sent. Enter starts a new line.
    void displayKeyTyped(const QString& text, bool enter);
    // "Clear Terminal".
    void clearClicked();
    // The page's Find Device: lends the reply matcher to the search and takes it back.
    void findDeviceClicked();

    // Everything written since the display was last cleared, with the line ends as written.
    const QString& display() const { return display_; }
    // Text as a plain text view shows it: each "\r\n", "\n\r" or lone "\n" a line break, other "\r" dropped.
    static QString screenText(const QString& written);

signals:
    void written(const QString& text);
    void displayCleared();
    // The display dropped its oldest part to stay within kDisplayLimit.
    void displayTrimmed();
    void commandEntryChanged(const QString& text);
    void pageControlEnabledRequested(bool enabled);

private:
    void write(const QString& text);
    void clearDisplay();
    void lineReceived(QByteArrayView line);

    CommandLink& link_;
    Discovery& discovery_;
    Operator& op_;
    bool active_ = false;
    QString entry_;
    QString display_;
};

} // namespace tarvo

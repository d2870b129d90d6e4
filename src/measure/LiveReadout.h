#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QObject>
#include <QString>
#include <QTimer>
#include <string>

namespace tarvo {

struct StatusPacket;

// The autotransmit selection ("SG" gross or "SN" net), the readout text it governs, and the state of
// the big display window that repeats it.
class LiveReadout : public QObject {
    Q_OBJECT
public:
    explicit LiveReadout(QObject* parent = nullptr);

    static constexpr const char* kOverRange = "OVERRANGE";
    static constexpr const char* kUnderRange = "UNDERRANGE";
    // The readout's views are told of a new text at most this often (25 times a second).
    static constexpr int kViewRefreshMs = 40;
    // The port is gone: no value can come.
    static constexpr const char* kNoInput = "NO INPUT";

    const QString& autotransmit() const { return autotransmit_; }
    // Sets the selection without any device traffic (restoring settings at start).
    void restoreAutotransmit(const QString& selection);
    bool grossSelected() const { return gross_; }
    // The stream matcher's start string for the selection: "G" or "N".
    QByteArray streamStart() const { return grossSelected() ? "G" : "N"; }
    // The command that starts the selected stream: "SG\r" or "SN\r".
    QByteArray streamCommand() const { return autotransmit_.toLatin1() + '\r'; }
    QString buttonCaption() const { return QStringLiteral("Start autotransmit (%1)").arg(autotransmit_); }

    // The newest text, also between two view refreshes.
    const QString& text() const;
    void setText(const QString& text);

    // A value line: shown with the selection's prefix when the whole text is a decimal number, else
    // the readout keeps its text. Written in place, so a steady stream does not allocate.
    void updateFromValue(QByteArrayView value);
    // The same for a text already known to be a decimal number.
    void showValue(QByteArrayView value) {
        // The prefix follows the selection, not the packet's start string.
        writeText(grossSelected() ? 'G' : 'N', value.data(), value.size());
    }
    // A status packet: "G " + gross or "N " + net with the packet's decimal count.
    void updateFromStatus(const StatusPacket& packet);
    // "OVERRANGE", "UNDERRANGE" or "NO INPUT" in place of a value.
    void showWord(const char* word);

    // "Show big display" on the Options page (not persisted) and whether the window is on screen.
    bool showBigDisplay() const { return showBigDisplay_; }
    void setShowBigDisplay(bool on);
    bool bigDisplayVisible() const { return bigDisplayVisible_; }
    // The window was hidden or closed by other means: the option follows.
    void bigDisplayHidden();
    // A triggered value capture brings a hidden big display back while the option is set.
    void showBigDisplayIfHidden();

signals:
    void autotransmitChanged(const QString& selection);
    void textChanged(const QString& text);
    void showBigDisplayChanged(bool on);
    void bigDisplayVisibilityRequested(bool visible);

private:
    void writeText(char prefix, const char* digits, qsizetype size);
    Q_DECL_COLD_FUNCTION void writeLongText(char prefix, const char* digits, qsizetype size);
    void notifyViews();

    QString autotransmit_ = QStringLiteral("SN");
    bool gross_ = false; // asked for every stream line: kept apart from the text
    // A stream line only keeps its bytes (prefix and digits); the text is made from them when someone
    // asks for it, at most once per view refresh for the views.
    // A weight line fits the fixed buffer; a longer one (nothing a transmitter sends) goes to rawLong_.
    static constexpr qsizetype kRawMax = 64;
    char raw_[kRawMax] = {};
    qsizetype rawSize_ = 0;
    std::string rawLong_;
    mutable bool rawPending_ = false;
    mutable QString text_;
    QString shownText_; // what the views were last told
    bool notifyPending_ = false;
    QTimer notify_;
    bool showBigDisplay_ = false;
    bool bigDisplayVisible_ = false;
};

} // namespace tarvo

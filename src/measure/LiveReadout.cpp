#include "LiveReadout.h"

#include "StatusPacket.h"
#include "base/NumberText.h"

#include <cstdio>
#include <cstring>

namespace tarvo {

void LiveReadout::restoreAutotransmit(const QString& selection) {
    if (selection != QLatin1String("SG") && selection != QLatin1String("SN"))
        return;
    autotransmit_ = selection;
    gross_ = selection == QLatin1String("SG");
    emit autotransmitChanged(autotransmit_);
}

LiveReadout::LiveReadout(QObject* parent) : QObject(parent) {
    notify_.setSingleShot(true);
    notify_.setInterval(kViewRefreshMs);
    connect(&notify_, &QTimer::timeout, this, [this] { emit textChanged(text_); });
}

void LiveReadout::setText(const QString& text) {
    if (text_ == text)
        return;
    text_ = text;
    emit textChanged(text_);
}

void LiveReadout::writeText(QChar prefix, const char* digits, qsizetype size) {
    const qsizetype n = prefix.isNull() ? size : size + 2;
    const qsizetype at = prefix.isNull() ? 0 : 2;
    bool same = text_.size() == n && (prefix.isNull() || (text_[0] == prefix && text_[1] == u' '));
    for (qsizetype i = 0; same && i < size; ++i)
        same = text_[at + i] == QLatin1Char(digits[i]);
    if (same)
        return;
    text_.resize(n);
    QChar* out = text_.data();
    if (!prefix.isNull()) {
        out[0] = prefix;
        out[1] = u' ';
    }
    for (qsizetype i = 0; i < size; ++i)
        out[at + i] = QLatin1Char(digits[i]);
    // A fast stream changes the text far more often than a screen can show it or a person read it: the
    // views hear of it at most every kViewRefreshMs, with the newest text.
    if (!notify_.isActive())
        notify_.start();
}

void LiveReadout::updateFromValue(QByteArrayView value) {
    if (parseDecimal(value.data(), value.size()))
        showValue(value);
}

void LiveReadout::showValue(QByteArrayView value) {
    // The prefix follows the selection, not the packet's start string.
    writeText(grossSelected() ? u'G' : u'N', value.data(), value.size());
}

void LiveReadout::updateFromStatus(const StatusPacket& packet) {
    const bool gross = grossSelected();
    const double value = gross ? packet.gross : packet.net;
    // Five packed digits at most, so "d decimals" never shows more than five significant digits.
    char buffer[48];
    const int n = std::snprintf(buffer, sizeof buffer, "%.*f", packet.decimals, value);
    writeText(gross ? u'G' : u'N', buffer, n);
}

void LiveReadout::showWord(const char* word) {
    writeText(QChar(), word, static_cast<qsizetype>(std::strlen(word)));
}

void LiveReadout::setShowBigDisplay(bool on) {
    if (showBigDisplay_ != on) {
        showBigDisplay_ = on;
        emit showBigDisplayChanged(on);
    }
    bigDisplayVisible_ = on;
    emit bigDisplayVisibilityRequested(on);
}

void LiveReadout::bigDisplayHidden() {
    bigDisplayVisible_ = false;
    if (showBigDisplay_) {
        showBigDisplay_ = false;
        emit showBigDisplayChanged(false);
    }
}

void LiveReadout::showBigDisplayIfHidden() {
    if (!showBigDisplay_ || bigDisplayVisible_)
        return;
    bigDisplayVisible_ = true;
    emit bigDisplayVisibilityRequested(true);
}

} // namespace tarvo

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
    raw_.reserve(32);
    notify_.setSingleShot(true);
    notify_.setInterval(kViewRefreshMs);
    connect(&notify_, &QTimer::timeout, this, &LiveReadout::notifyViews);
}

const QString& LiveReadout::text() const {
    if (rawPending_) {
        rawPending_ = false;
        text_ = QString::fromLatin1(raw_.data(), qsizetype(raw_.size()));
    }
    return text_;
}

void LiveReadout::setText(const QString& text) {
    if (this->text() == text)
        return;
    text_ = text;
    shownText_ = text_;
    emit textChanged(text_);
}

void LiveReadout::writeText(char prefix, const char* digits, qsizetype size) {
    // Kept in a buffer that keeps its capacity: a steady stream neither allocates nor builds a text per
    // line.
    raw_.clear();
    if (prefix) {
        raw_.push_back(prefix);
        raw_.push_back(' ');
    }
    raw_.append(digits, std::size_t(size));
    rawPending_ = true;
    // A fast stream changes the text far more often than a screen can show it or a person read it: the
    // views hear of it at most every kViewRefreshMs, with the newest text.
    if (!notifyPending_) {
        notifyPending_ = true;
        notify_.start();
    }
}

void LiveReadout::notifyViews() {
    notifyPending_ = false;
    if (text() == shownText_)
        return;
    shownText_ = text_;
    emit textChanged(text_);
}

void LiveReadout::updateFromValue(QByteArrayView value) {
    if (parseDecimal(value.data(), value.size()))
        showValue(value);
}

void LiveReadout::showValue(QByteArrayView value) {
    // The prefix follows the selection, not the packet's start string.
    writeText(grossSelected() ? 'G' : 'N', value.data(), value.size());
}

void LiveReadout::updateFromStatus(const StatusPacket& packet) {
    const bool gross = grossSelected();
    const double value = gross ? packet.gross : packet.net;
    // Five packed digits at most, so "d decimals" never shows more than five significant digits.
    char buffer[48];
    const int n = std::snprintf(buffer, sizeof buffer, "%.*f", packet.decimals, value);
    writeText(gross ? 'G' : 'N', buffer, n);
}

void LiveReadout::showWord(const char* word) {
    writeText(0, word, static_cast<qsizetype>(std::strlen(word)));
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

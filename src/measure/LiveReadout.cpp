#include "LiveReadout.h"

#include "StatusPacket.h"
#include "base/NumberText.h"

#include <algorithm>
#include <cmath>
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
    connect(&notify_, &QTimer::timeout, this, &LiveReadout::notifyViews);
}

const QString& LiveReadout::text() const {
    if (rawPending_) {
        rawPending_ = false;
        text_ = rawSize_ <= kRawMax ? QString::fromLatin1(raw_, rawSize_)
                                    : QString::fromLatin1(rawLong_.data(), qsizetype(rawLong_.size()));
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
    // Kept in a fixed buffer: a steady stream neither allocates nor builds a text per line.
    const qsizetype head = prefix ? 2 : 0;
    size = std::max<qsizetype>(size, 0);
    if (head + size > kRawMax) {
        writeLongText(prefix, digits, size);
    } else {
        // Without a prefix the text writes over these two.
        raw_[0] = prefix;
        raw_[1] = ' ';
        if (size > 0)
            std::memcpy(raw_ + head, digits, std::size_t(size));
        rawSize_ = head + size;
    }
    rawPending_ = true;
    // A fast stream changes the text far more often than a screen can show it or a person read it: the
    // views hear of it at most every kViewRefreshMs, with the newest text.
    if (!notifyPending_) {
        notifyPending_ = true;
        notify_.start();
    }
}

void LiveReadout::writeLongText(char prefix, const char* digits, qsizetype size) {
    const qsizetype head = prefix ? 2 : 0;
    rawSize_ = head + size;
    rawLong_.resize(std::size_t(rawSize_));
    if (prefix) {
        rawLong_[0] = prefix;
        rawLong_[1] = ' ';
    }
    if (size > 0)
        std::memcpy(rawLong_.data() + head, digits, std::size_t(size));
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

void LiveReadout::updateFromStatus(const StatusPacket& packet) {
    const bool gross = grossSelected();
    const double value = gross ? packet.gross : packet.net;
    // Five packed digits at most, so "d decimals" never shows more than five significant digits. Made by
    // hand as printf's "%.*f" would, but always with a point: printf takes the locale's ("G 123,4").
    const int decimals = std::clamp(packet.decimals, 0, 9);
    long long scale = 1;
    for (int i = 0; i < decimals; ++i)
        scale *= 10;
    const long long units = std::llround(std::fabs(value) * double(scale));
    char buffer[48];
    int n = std::snprintf(buffer, sizeof buffer, "%s%lld", std::signbit(value) ? "-" : "", units / scale);
    if (decimals > 0)
        n += std::snprintf(buffer + n, sizeof buffer - std::size_t(n), ".%0*lld", decimals, units % scale);
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

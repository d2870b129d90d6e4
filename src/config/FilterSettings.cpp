#include "FilterSettings.h"

#include "base/EventWait.h"
#include "link/CommandLink.h"
#include "link/SerialPort.h"

namespace tarvo {

namespace {
constexpr int kModeLimitMs = 2000;
constexpr int kLevelRateLimitMs = 1000;
constexpr int kLiveLimitMs = 200;
constexpr int kQueryLimitMs = 1000;
constexpr int kFirLevelQueryLimitMs = 2000;
constexpr int kTcwQueryLimitMs = 300;
constexpr int kCanPauseMs = 200;

QString text(std::string_view s) {
    return QString::fromLatin1(s.data(), qsizetype(s.size()));
}
} // namespace

FilterSettings::FilterSettings(Page page, CommandLink& link, Operator& op, ConfigHooks hooks, QObject* parent)
    : QObject(parent), page_(page), link_(link), op_(op), hooks_(std::move(hooks)) {
    for (int i = 0; i < filter_tables::kLevels; ++i)
        levelCaptions_[size_t(i)] = text(filter_tables::kInitialLevelCaptions[size_t(i)]);
    for (int i = 0; i < filter_tables::kRates; ++i)
        rateCaptions_[size_t(i)] = text(filter_tables::kInitialRateCaptions[size_t(i)]);
    mode_.setAction([this](const int& m) { modeSelected(m); });
    level_.setAction([this](const int& l) { levelSelected(l); });
    rate_.setAction([this](const int& r) { rateSelected(r); });
}

void FilterSettings::setModeGroupVisible(bool visible) {
    if (modeGroupVisible_ == visible)
        return;
    modeGroupVisible_ = visible;
    emit changed();
}

void FilterSettings::showIirCaptions() {
    for (int i = 0; i < filter_tables::kLevels; ++i)
        levelCaptions_[size_t(i)] = text(filter_tables::kIirLevelCaptions[size_t(i)]);
    for (int i = 0; i < filter_tables::kRates; ++i)
        rateCaptions_[size_t(i)] = text(filter_tables::kIirRateCaptions[size_t(i)]);
    emit changed();
}

void FilterSettings::modeClicked(int mode) {
    if (mode == 0 || mode == 1)
        mode_.choose(mode);
}

void FilterSettings::levelClicked(int level) {
    if (level >= 0 && level < filter_tables::kLevels)
        level_.choose(level);
}

void FilterSettings::rateClicked(int rate) {
    if (rate >= 0 && rate < filter_tables::kRates)
        rate_.choose(rate);
}

bool FilterSettings::sendSetting(const QByteArray& line, int limitMs) {
    const int port = link_.port().portNumber();
    if (onTcw())
        return link_.sendAndReceiveLive(port, line, kLiveLimitMs) == "OK";
    return link_.sendAndReceive(port, line, limitMs, Framing::startingWith("O")) == "K";
}

QByteArray FilterSettings::query(const QByteArray& line, const QByteArray& start, int limitMs) {
    return link_.sendAndReceive(link_.port().portNumber(), line, limitMs, Framing::startingWith(start));
}

int FilterSettings::optionFromReply(const QByteArray& reply, int highest) {
    if (reply.size() != 5 || !reply.startsWith("0000"))
        return kNone;
    const int n = reply.at(4) - '0';
    return n >= 0 && n <= highest ? n : kNone;
}

void FilterSettings::report(const QString& text, bool withBox) {
    op_.showInfoLine(page_, text);
    if (withBox)
        op_.showMessage(text);
}

void FilterSettings::modeSelected(int mode) {
    const int limit = onTcw() ? kLiveLimitMs : kModeLimitMs;
    hooks_.pageControl(false);
    emit changed();
    if (!sendSetting("FM " + QByteArray::number(mode) + '\r', limit)) {
        report(QString::fromLatin1(kNotChanged), true);
        hooks_.pageControl(true);
        return;
    }
    report(mode == 0 ? QStringLiteral("IIR Filter (mode \"0\") selected")
                     : QStringLiteral("FIR Filter (mode \"1\") selected"),
           false);
    if (!sendSetting("WP\r", limit))
        report(QString::fromLatin1(kNotChanged), true);
    hooks_.pageControl(true);
    if (mode == 0) {
        showIirCaptions();
        return;
    }
    for (int i = 0; i < filter_tables::kLevels; ++i)
        levelCaptions_[size_t(i)] = text(filter_tables::kFirLevelCaptions[size_t(i)]);
    emit changed();
    selectLevelAfterFir();
}

void FilterSettings::selectLevelAfterFir() {
    const int level =
        optionFromReply(query("FL\r", "F+", onTcw() ? kTcwQueryLimitMs : kFirLevelQueryLimitMs), 8);
    if (level == kNone) {
        report(QString::fromLatin1(kRefreshError), false);
        return;
    }
    // The 43xx page always sends the level again, so its FIR rate captions are always drawn; the 41xx
    // page only when the level differs from the one shown.
    if (onTcw())
        level_.choose(level);
    else
        level_.setByProgram(level);
}

void FilterSettings::levelSelected(int level) {
    hooks_.pageControl(false);
    emit changed();
    if (!sendSetting("FL " + QByteArray::number(level) + '\r', kLevelRateLimitMs)) {
        report(QString::fromLatin1(kNotChanged), true);
        hooks_.pageControl(true);
        return;
    }
    report("Filter cut off " + levelCaption(level) + " selected", false);
    if (!sendSetting("WP\r", kLevelRateLimitMs))
        report(QString::fromLatin1(kNotChanged), true);
    hooks_.pageControl(true);
    if (mode_.value() == 1) {
        for (int r = 0; r < filter_tables::kRates; ++r)
            rateCaptions_[size_t(r)] = text(filter_tables::kFirRateCaptions[size_t(level)][size_t(r)]);
        emit changed();
    }
}

void FilterSettings::rateSelected(int rate) {
    hooks_.pageControl(false);
    emit changed();
    if (!sendSetting("UR " + QByteArray::number(rate) + '\r', kLevelRateLimitMs)) {
        report(QString::fromLatin1(kNotChanged), true);
        hooks_.pageControl(true);
        return;
    }
    report("Update-rate " + rateCaption(rate) + " Samples/sec. selected", false);
    if (!sendSetting("WP\r", kLevelRateLimitMs))
        report(QString::fromLatin1(kNotChanged), true);
    hooks_.pageControl(true);
}

void FilterSettings::readBack(bool canPause) {
    const int limit = onTcw() ? kTcwQueryLimitMs : kQueryLimitMs;
    const int mode = optionFromReply(query("FM\r", "M+", limit), 1);
    if (mode == kNone)
        report(QString::fromLatin1(kRefreshError), false);
    else
        mode_.setByProgram(mode);
    if (canPause)
        waitMs(kCanPauseMs);
    const int level = optionFromReply(query("FL\r", "F+", limit), 8);
    if (level == kNone)
        report(QString::fromLatin1(kRefreshError), false);
    else
        level_.setByProgram(level);
    const int rate = optionFromReply(query("UR\r", "U+", limit), 7);
    if (rate == kNone)
        report(QString::fromLatin1(kRefreshError), false);
    else
        rate_.setByProgram(rate);
}

} // namespace tarvo

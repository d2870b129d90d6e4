#pragma once

#include "ConfigHooks.h"
#include "base/Choice.h"
#include "base/Operator.h"
#include "config/FilterTables.h"

#include <QByteArray>
#include <QObject>
#include <QString>
#include <array>

namespace tarvo {

class CommandLink;

// The mode/level/rate filter group of one page (MXR 41xx or TCW 43xx): filter mode IIR or FIR, cut-off
// level 0..8 and update rate 0..7, each sent to the device at once and stored with "WP". The level and
// rate captions always name the cut-off and output rate that the selected combination gives.
class FilterSettings : public QObject {
    Q_OBJECT
public:
    static constexpr const char* kNotChanged = "Communication Error... Filter NOT changed!";
    static constexpr const char* kRefreshError = "Communication error refresh filter options!";
    static constexpr int kNone = -1;

    // page: Page::Mxr41 (plain transactions) or Page::Tcw43 (live transactions, short time limits).
    FilterSettings(Page page, CommandLink& link, Operator& op, ConfigHooks hooks, QObject* parent = nullptr);

    Page page() const { return page_; }
    // kNone until the first selection.
    int mode() const { return mode_.value(); }
    int level() const { return level_.value(); }
    int rate() const { return rate_.value(); }
    QString levelCaption(int level) const { return levelCaptions_.at(size_t(level)); }
    QString rateCaption(int rate) const { return rateCaptions_.at(size_t(rate)); }
    bool modeGroupVisible() const { return modeGroupVisible_; }
    void setModeGroupVisible(bool visible);
    // Level and rate captions of IIR mode (a device without a mode choice filters that way).
    void showIirCaptions();

    // The operator's clicks: each sends its command and "WP" whatever was selected before.
    void modeClicked(int mode);
    void levelClicked(int level);
    void rateClicked(int rate);

    // Reads "FM", "FL" and "UR" back and selects what the device holds; an option that changes runs its
    // action (and so is sent back and stored). canPause: the CAN bridge needs a breath after "FM".
    void readBack(bool canPause);

signals:
    void changed();

private:
    bool onTcw() const { return page_ == Page::Tcw43; }
    bool sendSetting(const QByteArray& line, int limitMs);
    QByteArray query(const QByteArray& line, const QByteArray& start, int limitMs);
    // "0000n" with n in 0..highest, or kNone.
    static int optionFromReply(const QByteArray& reply, int highest);
    void report(const QString& text, bool withBox);
    void modeSelected(int mode);
    void levelSelected(int level);
    void rateSelected(int rate);
    // The level read back after FIR was chosen; on the 43xx page its action always runs.
    void selectLevelAfterFir();

    Page page_;
    CommandLink& link_;
    Operator& op_;
    ConfigHooks hooks_;
    Choice<int> mode_{kNone};
    Choice<int> level_{kNone};
    Choice<int> rate_{kNone};
    std::array<QString, filter_tables::kLevels> levelCaptions_;
    std::array<QString, filter_tables::kRates> rateCaptions_;
    bool modeGroupVisible_ = true;
};

} // namespace tarvo

#pragma once

#include <QString>
#include <QStringList>
#include <cstdint>
#include <optional>

namespace tarvo {

// Pages of the main window that carry an information line.
enum class Page { Display, Options, Terminal, Mxr21, Mxr23, Mxr41, Tcw43, Commands, Programming };
inline constexpr Page kAllPages[] = {Page::Display, Page::Options,  Page::Terminal,
                                     Page::Mxr21,   Page::Mxr23,    Page::Mxr41,
                                     Page::Tcw43,   Page::Commands, Page::Programming};

enum class MessageIcon { None, Information, Warning, Error };

// A colour as plain 0xRRGGBB, so the core never needs QtGui.
using Rgb = std::uint32_t;

// Everything the operator sees or answers goes through this interface: the windows implement it with
// Qt dialogs, the command-line tool prints and answers from its flags, tests script it.
class Operator {
public:
    virtual ~Operator() = default;

    // The same text on the information line of every page (empty clears them).
    virtual void showInfoMessage(const QString& text) = 0;
    // The information line of one page only.
    virtual void showInfoLine(Page page, const QString& text) = 0;
    // A modal box with one OK button.
    virtual void showMessage(const QString& text, const QString& caption = {},
                             MessageIcon icon = MessageIcon::None) = 0;
    virtual bool askYesNo(const QString& text, const QString& caption = {}) = 0;
    virtual bool askOkCancel(const QString& text, const QString& caption = {}) = 0;
    // Empty result: the operator cancelled.
    virtual QString askOpenFileName(const QString& caption, const QString& filter) = 0;
    virtual QString askSaveFileName(const QString& defaultSuffix, const QString& filter) = 0;
    virtual std::optional<Rgb> askColour(Rgb current) = 0;
    // The "Change value" window: its caption, range and units lines; the typed text, empty when the
    // operator cancelled. Where no one can type, nothing is typed.
    virtual QString askValue(const QString& caption, const QString& range, const QString& units) {
        (void)caption;
        (void)range;
        (void)units;
        return {};
    }
};

// An operator that shows nothing and declines every question; for objects used before a real one is set.
class SilentOperator final : public Operator {
public:
    void showInfoMessage(const QString&) override {}
    void showInfoLine(Page, const QString&) override {}
    void showMessage(const QString&, const QString&, MessageIcon) override {}
    bool askYesNo(const QString&, const QString&) override { return false; }
    bool askOkCancel(const QString&, const QString&) override { return false; }
    QString askOpenFileName(const QString&, const QString&) override { return {}; }
    QString askSaveFileName(const QString&, const QString&) override { return {}; }
    std::optional<Rgb> askColour(Rgb) override { return std::nullopt; }
};

} // namespace tarvo

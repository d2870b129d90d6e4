#pragma once

#include "QtPrinters.h"
#include "base/Operator.h"

#include <QStringList>
#include <deque>
#include <functional>

namespace tarvo::test {

// Records everything shown to the operator, one line per event, and answers questions from a script.
// Lines: "info: TEXT", "line(PAGE): TEXT", "box[CAPTION]: TEXT", "ask: TEXT -> yes|no", "open: CAPTION",
// "save: SUFFIX", "colour", "value: CAPTION | RANGE | UNITS".
class FakeOperator : public Operator {
public:
    void showInfoMessage(const QString& text) override;
    void showInfoLine(Page page, const QString& text) override;
    void showMessage(const QString& text, const QString& caption, MessageIcon icon) override;
    bool askYesNo(const QString& text, const QString& caption) override;
    bool askOkCancel(const QString& text, const QString& caption) override;
    QString askOpenFileName(const QString& caption, const QString& filter) override;
    QString askSaveFileName(const QString& defaultSuffix, const QString& filter) override;
    std::optional<Rgb> askColour(Rgb current) override;
    QString askValue(const QString& caption, const QString& range, const QString& units) override;

    // Scripted answers, used in order; when the script is empty questions get "no" / cancel.
    std::deque<bool> answers;
    std::deque<QString> fileNames;
    std::deque<Rgb> colours;
    // What is typed into the "Change value" window, in order; nothing (a Cancel) once used up.
    std::deque<QString> values;
    // What the operator does before acknowledging a box (takes the load off the cell, ...).
    std::function<void(const QString&)> onBox;

    QStringList events;
    QStringList infoMessages() const;      // texts of showInfoMessage, in order
    QStringList messageBoxes() const;      // texts of showMessage, in order
    QString lastInfoLine(Page page) const; // what the page's line shows now
    void clear() { events.clear(); }

private:
    QString lines_[std::size(kAllPages)];
};

QString pageName(Page page);

} // namespace tarvo::test

#pragma once

#include "base/Operator.h"

#include <QStringList>
#include <QTextStream>
#include <functional>

namespace tarvo::cli {

// The command-line face of the operator: every text shown goes to standard error, one per line, each
// time it is shown; questions are answered "no"/"cancel" unless the caller said --yes.
class ConsoleOperator : public Operator {
public:
    explicit ConsoleOperator(bool answerYes = false);

    void showInfoMessage(const QString& text) override;
    void showInfoLine(Page page, const QString& text) override;
    void showMessage(const QString& text, const QString& caption, MessageIcon icon) override;
    bool askYesNo(const QString& text, const QString& caption) override;
    bool askOkCancel(const QString& text, const QString& caption) override;
    QString askOpenFileName(const QString& caption, const QString& filter) override;
    QString askSaveFileName(const QString& defaultSuffix, const QString& filter) override;
    std::optional<Rgb> askColour(Rgb current) override;

    // Shown texts are also kept, for subcommands that report them (fwinfo's message lines).
    struct Shown {
        QString text;
        QString caption;
    };
    const QList<Shown>& messages() const { return messages_; }
    void setQuiet(bool quiet) { quiet_ = quiet; }
    // While held, printed lines wait; release prints those that keep() accepts, in order.
    void hold() { held_ = true; }
    void release(const std::function<bool(const QString& line)>& keep);
    // A file name the caller already knows (record --csv); handed out at the next save question.
    void setSaveFileName(const QString& name) { saveName_ = name; }
    // The same for the next open question (image put FILE).
    void setOpenFileName(const QString& name) { openName_ = name; }

private:
    void print(const QString& line);
    bool answerYes_;
    bool quiet_ = false;
    QString lastPrinted_; // the text of the line printed last
    bool held_ = false;
    QStringList waiting_;
    QString saveName_;
    QString openName_;
    QList<Shown> messages_;
};

} // namespace tarvo::cli

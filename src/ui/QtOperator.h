#pragma once

#include "ChangeValueDialog.h"
#include "base/Operator.h"

#include <QLabel>
#include <QPointer>
#include <QWidget>
#include <array>
#include <functional>

namespace tarvo::ui {

// The operator as the windows show it: information lines on the pages, Qt message boxes and dialogs.
class QtOperator : public Operator {
public:
    void setParentWindow(QWidget* window) { window_ = window; }
    void setInfoLine(Page page, QLabel* label) { lines_[static_cast<int>(page)] = label; }
    // The "Change value" window to ask in, made when first asked; without one, each question gets a
    // window of its own.
    void setChangeValueWindow(std::function<ChangeValueDialog*()> window) {
        changeValue_ = std::move(window);
    }

    void showInfoMessage(const QString& text) override;
    void showInfoLine(Page page, const QString& text) override;
    void showMessage(const QString& text, const QString& caption, MessageIcon icon) override;
    bool askYesNo(const QString& text, const QString& caption) override;
    bool askOkCancel(const QString& text, const QString& caption) override;
    QString askOpenFileName(const QString& caption, const QString& filter) override;
    QString askSaveFileName(const QString& defaultSuffix, const QString& filter) override;
    std::optional<Rgb> askColour(Rgb current) override;
    QString askValue(const QString& caption, const QString& range, const QString& units) override;

private:
    QPointer<QWidget> window_;
    std::function<ChangeValueDialog*()> changeValue_;
    std::array<QPointer<QLabel>, std::size(kAllPages)> lines_{};
};

// "a|*.x|b|*.y" (the program's filter notation) as Qt's "a;;b".
QString qtFilter(const QString& filter);

} // namespace tarvo::ui

#pragma once

#include <QDialog>

class QLineEdit;
class QPushButton;

namespace tarvo::ui {

class ValueLabel;

// The "Change value" window: what is being set, its range and units, and the field the new value is
// typed into. Enter in the field is OK; Cancel empties the field.
class ChangeValueDialog : public QDialog {
    Q_OBJECT
public:
    static constexpr const char* kDefaultCaption = "Type value:";

    explicit ChangeValueDialog(QWidget* parent = nullptr);

    // Shows the window until it is closed; the typed text, empty when the operator cancelled.
    QString ask(const QString& caption, const QString& range, const QString& units);

    QLineEdit* valueField() const { return value_; }

protected:
    void showEvent(QShowEvent* event) override;

private:
    void cancelled();

    ValueLabel* caption_;
    ValueLabel* range_;
    ValueLabel* units_;
    QLineEdit* value_;
};

} // namespace tarvo::ui

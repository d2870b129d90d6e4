#pragma once

#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <functional>

namespace tarvo {
class MainController;
}

namespace tarvo::ui {

// A button or an option whose accessible name is its caption.
QPushButton* captionedButton(const QString& caption, QWidget* parent);
QRadioButton* captionedOption(const QString& caption, QWidget* parent);

// Checks the option at index and no other; a negative index leaves every option unchecked (a choice the
// device has not reported yet).
void showSelection(const QList<QAbstractButton*>& options, int index);

// Runs action with the new state whenever the operator changes a check box, an option or a button that
// stays down: by mouse, keyboard or assistive technology, whose toggle action changes the state without
// a click. A state the program shows (showChecked, showSelection) runs nothing.
void onOperatorToggle(QAbstractButton* button, QObject* context, std::function<void(bool)> action);
// The same for an option: runs action when the operator chooses it.
void onOperatorChoice(QAbstractButton* option, QObject* context, std::function<void()> action);
// Shows the state the program holds without running what the operator's change would run.
void showChecked(QAbstractButton* button, bool on);

// Runs action with the new text whenever the operator changes a text field: by keyboard, or by assistive
// technology, whose editable-text actions set the text without a key press. Text the program shows
// (showText) runs nothing.
void onOperatorEdit(QLineEdit* edit, QObject* context, std::function<void(const QString&)> action);
// Shows the text the program holds, unless the field holds it already (the cursor stays where it is).
void showText(QLineEdit* edit, const QString& text);

// A click that talks to the device or changes the port waits for a running transaction to end; it never
// takes over the matcher of a transaction that is still waiting for its reply.
void whenLinkIdle(MainController& controller, std::function<void()> action);

} // namespace tarvo::ui

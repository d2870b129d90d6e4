#pragma once

#include <QGroupBox>
#include <QList>
#include <functional>

class QGridLayout;
class QHBoxLayout;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QVBoxLayout;

namespace tarvo {
class MainController;
class ParameterFields;
} // namespace tarvo

namespace tarvo::ui {

// A device parameter group: one labelled field per parameter (its range as the tool tip), the group's
// buttons, and a progress bar while a read or write runs.
class ParameterGroup : public QGroupBox {
    Q_OBJECT
public:
    ParameterGroup(const QString& title, ParameterFields& fields, MainController& controller,
                   QWidget* parent = nullptr);

    // A button that runs action once the link is idle; it is disabled while the group is busy.
    QPushButton* addButton(const QString& caption, std::function<void()> action);
    // Room under the fields for the group's other controls.
    QVBoxLayout* extras() const { return extras_; }
    QLineEdit* field(int index) const { return edits_.value(index); }

private:
    void sync();
    ParameterFields& fields_;
    MainController& c_;
    QList<QLineEdit*> edits_;
    QList<QPushButton*> buttons_;
    QHBoxLayout* buttonRow_;
    QVBoxLayout* extras_;
    QProgressBar* progress_;
};

} // namespace tarvo::ui

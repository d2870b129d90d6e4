#pragma once

#include <QWidget>
#include <vector>

class QPushButton;
class QScrollArea;

namespace tarvo {
class MainController;
}

namespace tarvo::ui {

class CommandButtonWidget;
class MultiCommandPanel;
class ValueLabel;

// The Commands page: the multi-command line and the log on the left, "Show CMD" and the labels that
// describe the button under the pointer above the command buttons, which fill rows to the right.
class CommandsPage : public QWidget {
    Q_OBJECT
public:
    explicit CommandsPage(MainController& controller, QWidget* parent = nullptr);

    void pageShown();
    MultiCommandPanel* multiCommandPanel() const { return sender_; }
    const std::vector<CommandButtonWidget*>& commandButtons() const { return buttons_; }

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    void buttonsCleared();
    void buttonAdded(int index);
    void buttonChanged(int index);
    void showLabels();
    void followLocks();
    // The command area grows to hold every button; the panel's rows end at the page's width.
    void fitArea();

    MainController& c_;
    MultiCommandPanel* sender_;
    QPushButton* showCmd_;
    ValueLabel* description_;
    ValueLabel* max_;
    ValueLabel* min_;
    ValueLabel* unit_;
    ValueLabel* value_;
    QScrollArea* scroll_;
    QWidget* area_;
    std::vector<CommandButtonWidget*> buttons_;
};

} // namespace tarvo::ui

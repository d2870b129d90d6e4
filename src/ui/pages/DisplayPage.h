#pragma once

#include <QWidget>

class QComboBox;
class QLabel;
class QPushButton;

namespace tarvo {
class MainController;
}

namespace tarvo::ui {

class LazyPrinter;

class ScopePanel;

// The Display page: the live readout, the autotransmit choice and its start button, Find Device, the
// run panel and the scope panel.
class DisplayPage : public QWidget {
    Q_OBJECT
public:
    DisplayPage(MainController& controller, LazyPrinter& printer, QWidget* parent = nullptr);
    ScopePanel* scopePanel() const { return scopePanel_; }

private:
    void followAutotransmit();
    void followLocks();
    MainController& c_;
    QLabel* readout_;
    QComboBox* autotransmit_;
    QPushButton* startAutotransmit_;
    ScopePanel* scopePanel_;
};

} // namespace tarvo::ui

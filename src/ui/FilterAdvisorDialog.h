#pragma once

#include <QDialog>
#include <memory>

class QCheckBox;
class QDoubleSpinBox;
class QLabel;
class QPushButton;
class QSpinBox;
class QTableWidget;

namespace tarvo {
class FilterAdvisor;
class MainController;
} // namespace tarvo

namespace tarvo::ui {

class NoiseSettlingPlot;

// "Filter advisor": the operator's targets, Start, the progress of the search, Cancel, the table of
// settings, a plot of noise against settling time with the recommendation marked, Apply and the report.
class FilterAdvisorDialog : public QDialog {
    Q_OBJECT
public:
    FilterAdvisorDialog(MainController& controller, QWidget* parent = nullptr);
    ~FilterAdvisorDialog() override;

    FilterAdvisor* advisor() const { return advisor_.get(); }

private:
    void start();
    void apply();
    void saveReport();
    void showTrial(int index);
    void showOutcome();
    void syncButtons();
    void reject() override;

    MainController& c_;
    std::unique_ptr<FilterAdvisor> advisor_;
    QDoubleSpinBox* noise_;
    QSpinBox* settle_;
    QSpinBox* window_;
    QCheckBox* operatorSteps_;
    QLabel* progress_;
    QTableWidget* table_;
    NoiseSettlingPlot* plot_;
    QPushButton* start_;
    QPushButton* cancel_;
    QPushButton* apply_;
    QPushButton* report_;
    QPushButton* close_;
};

} // namespace tarvo::ui

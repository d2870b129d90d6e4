#pragma once

#include <QWidget>

class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QPushButton;

namespace tarvo {
class MainController;
}

namespace tarvo::ui {

class LazyPrinter;

class BaudGroup;
class ComPortGroup;
class FileSeparatorGroup;
class GraphOptionsGroup;
class SampleOptionsGroup;

// The Options page: the link choice (COM ports, rate, CAN-bus and its options), the device search and
// its labels, the sample, graph and file-separator options, "Show big display", "Printer Setup" and the
// latest-version look-up.
class OptionsPage : public QWidget {
    Q_OBJECT
public:
    OptionsPage(MainController& controller, LazyPrinter& printer, QWidget* parent = nullptr);
    ComPortGroup* comPorts() const { return comPorts_; }
    QPushButton* latestVersionButton() const { return latestVersion_; }
    // The settings were restored after the page was built; show them.
    void showRestoredSettings();

private:
    void sync();
    MainController& c_;
    LazyPrinter& printer_;
    ComPortGroup* comPorts_;
    BaudGroup* baud_;
    QGroupBox* canOptions_;
    QComboBox* canNode_;
    QComboBox* canSpeed_;
    QComboBox* canDeviceAddress_;
    QCheckBox* searchOnlySelected_;
    QCheckBox* showBigDisplay_;
    QLabel* deviceLabel_;
    QLabel* firmwareLabel_;
    QLabel* portLabel_;
    QComboBox* deviceAddress_;
    QPushButton* latestVersion_;
    SampleOptionsGroup* sampleOptions_;
    GraphOptionsGroup* graphOptions_;
    FileSeparatorGroup* fileSeparator_;
};

} // namespace tarvo::ui

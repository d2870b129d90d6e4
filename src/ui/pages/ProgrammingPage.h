#pragma once

#include <QWidget>

class QCheckBox;
class QComboBox;
class QListWidget;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;

namespace tarvo {
class MainController;
}

namespace tarvo::ui {

// The Programming page: loading a firmware file (by button or by dropping it on the window) and its
// summary, "Upgrade Firmware" with its progress and "MXR Testfixture", and the settings image's "Get
// Image" and "Put Image" with the address range and the put's log.
class ProgrammingPage : public QWidget {
    Q_OBJECT
public:
    explicit ProgrammingPage(MainController& controller, QWidget* parent = nullptr);

private:
    QWidget* buildUpgrade();
    QWidget* buildImages();
    void showActivity();

    MainController& c_;
    QPlainTextEdit* firmwareInfo_;
    QPushButton* load_ = nullptr;
    QPushButton* upgrade_ = nullptr;
    QCheckBox* testFixture_ = nullptr;
    QProgressBar* programmingProgress_ = nullptr;
    QPushButton* getImage_ = nullptr;
    QPushButton* putImage_ = nullptr;
    QComboBox* from_ = nullptr;
    QComboBox* to_ = nullptr;
    QProgressBar* imageProgress_ = nullptr;
    QListWidget* log_ = nullptr;
};

} // namespace tarvo::ui

#pragma once

#include "QtOperator.h"
#include "app/MainController.h"

#include <QMainWindow>
#include <QPointer>
#include <QPrinter>
#include <array>
#include <functional>

class QTabWidget;
class QLabel;
class QRadioButton;
class QPushButton;
class QCheckBox;
class QComboBox;
class QGroupBox;
class QPlainTextEdit;
class QProgressBar;

namespace tarvo::ui {

class FileSeparatorGroup;
class GraphOptionsGroup;
class SampleOptionsGroup;
class ScopePanel;

// The main window: a thin view over MainController. Every control mirrors a value of the core and
// forwards its clicks; nothing here talks to the device directly.
class TForm1 : public QMainWindow {
    Q_OBJECT
public:
    TForm1(MainController& controller, QtOperator& op, QWidget* parent = nullptr);

    QTabWidget* pages() const { return pages_; }
    QWidget* page(Page page) const { return pageWidgets_[static_cast<int>(page)]; }
    QRadioButton* optionsComButton(int com) const { return optionsCom_[com - 1]; }
    QRadioButton* terminalComButton(int com) const { return terminalCom_[com - 1]; }
    QPushButton* latestVersionButton() const { return latestVersion_; }
    // The printer that "Printer Setup" sets up and "Print graph" prints on.
    QPrinter& printer() { return printer_; }
    ScopePanel* scopePanel() const { return scopePanel_; }

signals:
    // The window closed and the shutdown sequence ran.
    void closed();

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    QWidget* addPage(Page page, const QString& title, QWidget* content);
    QWidget* buildDisplayPage();
    QWidget* buildOptionsPage();
    QWidget* buildTerminalPage();
    QWidget* buildFamilyPage(FamilyPage family, const QString& setupCaption);
    QWidget* buildCommandsPage();
    QWidget* buildProgrammingPage();
    QGroupBox* buildBaudGroup(std::array<QRadioButton*, 5>& buttons, const std::function<void(int)>& onClick);
    void syncFromCore();
    void whenIdle(std::function<void()> action);
    QPushButton* findDeviceButton(QWidget* parent);
    void onCurrentPageChanged(int index);
    QWidget* buildRunPanel(QWidget* parent);
    void syncRunPanel();
    void syncLocks();

    MainController& c_;
    QtOperator& op_;
    QTabWidget* pages_ = nullptr;
    std::array<QWidget*, std::size(kAllPages)> pageWidgets_{};
    std::array<QRadioButton*, 8> optionsCom_{};
    std::array<QRadioButton*, 8> terminalCom_{};
    QRadioButton* rbCAN_ = nullptr;
    std::array<QRadioButton*, 5> optionsBaud_{};
    std::array<QRadioButton*, 5> terminalBaud_{};
    std::array<std::array<QRadioButton*, 5>, kFamilyPages> familyBaud_{};
    std::array<QLabel*, 2 + kFamilyPages> portBaudCaptions_{}; // Options, Terminal, family pages
    QGroupBox* canOptions_ = nullptr;
    std::array<QProgressBar*, 2> activity_{}; // Options and Terminal pages
    QPushButton* latestVersion_ = nullptr;
    QPushButton* startAutotransmit_ = nullptr;
    QComboBox* autotransmit_ = nullptr;
    std::vector<QPushButton*> deviceWriteButtons_; // set-up and defaults of the family pages
    QLabel* readout_ = nullptr;
    QPushButton* run_ = nullptr;
    QPushButton* stop_ = nullptr;
    QPushButton* pause_ = nullptr;
    QPushButton* trigger_ = nullptr;
    QLabel* lamp_ = nullptr;
    QLabel* stepTime_ = nullptr;
    QLabel* sampleNr_ = nullptr;
    QCheckBox* showBigDisplay_ = nullptr;
    QPlainTextEdit* firmwareInfo_ = nullptr;
    QLabel* deviceLabel_ = nullptr;
    QLabel* firmwareLabel_ = nullptr;
    QLabel* portLabel_ = nullptr;
    QComboBox* deviceAddr_ = nullptr;
    QCheckBox* search_ = nullptr;
    std::vector<QPushButton*> findButtons_;
    ScopePanel* scopePanel_ = nullptr;
    SampleOptionsGroup* sampleOptions_ = nullptr;
    GraphOptionsGroup* graphOptions_ = nullptr;
    FileSeparatorGroup* fileSeparator_ = nullptr;
    QPrinter printer_{QPrinter::HighResolution};
    bool shown_ = false;
    int previousPage_ = 0;
};

} // namespace tarvo::ui

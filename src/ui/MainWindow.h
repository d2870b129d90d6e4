#pragma once

#include "LazyPrinter.h"
#include "QtOperator.h"
#include "app/MainController.h"

#include <QMainWindow>
#include <QTimer>
#include <array>
#include <functional>

class QPrinter;
class QRadioButton;
class QPushButton;
class QScrollArea;
class QTabWidget;

namespace tarvo::ui {

class CommandsPage;
class DisplayPage;
class OptionsPage;
class ScopePanel;
class TerminalPage;

// The main window: the tab frame with one widget per page, the information line under each page, the
// shortcut that closes the program, dropped files, and which page the core hears is shown or left.
class MainWindow : public QMainWindow {
    Q_OBJECT
public:
    MainWindow(MainController& controller, QtOperator& op, QWidget* parent = nullptr);

    QTabWidget* pages() const { return pages_; }
    // The tab page (the page and its information line).
    QWidget* page(Page page) const { return pageWidgets_[static_cast<int>(page)]; }
    QRadioButton* optionsComButton(int com);
    QRadioButton* terminalComButton(int com) const;
    QPushButton* latestVersionButton();
    ScopePanel* scopePanel() const;
    TerminalPage* terminalPage() const { return terminal_; }
    CommandsPage* commandsPage() {
        buildPage(Page::Commands);
        return commands_;
    }
    // Whether the pages made after the window is first on screen are there.
    bool allPagesBuilt() const;
    // Makes every page not made yet (it happens by itself once the window is on screen).
    void buildPages();
    // The printer that "Printer Setup" sets up and "Print graph" prints on.
    QPrinter* printer() { return printer_.get(); }
    // Whether anything has used the printer yet.
    bool printerMade() const { return printer_.made(); }

signals:
    // The window closed and the shutdown sequence ran.
    void closed();

protected:
    void showEvent(QShowEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    void addPage(Page page, const QString& title, std::function<QWidget*()> make);
    void buildPage(Page page);
    QSize sizeForPages() const;
    void showFamilyTabs();
    void currentPageChanged(int index);

    MainController& c_;
    QtOperator& op_;
    LazyPrinter printer_;
    QTabWidget* pages_;
    std::array<QWidget*, std::size(kAllPages)> pageWidgets_{};
    std::array<QScrollArea*, std::size(kAllPages)> pageScrolls_{};
    std::array<std::function<QWidget*()>, std::size(kAllPages)> pageMakers_{};
    DisplayPage* display_;
    OptionsPage* options_ = nullptr;
    TerminalPage* terminal_;
    CommandsPage* commands_ = nullptr;
    bool shown_ = false;
    bool firstShowDone_ = false;
    QWidget* previousPage_ = nullptr;
    // A family page was shown when the search took it out: the new device's page (else the Display page) is
    // shown once the search is over; the tab Qt showed in its place meanwhile runs no handler.
    bool familyPageGaveWay_ = false;
    bool quietSwitch_ = false;
    QTimer familyRecheck_;
};

} // namespace tarvo::ui

#include "MainWindow.h"

#include "FilterAdvisorDialog.h"
#include "ScopePanel.h"
#include "pages/CommandsPage.h"
#include "pages/DeviceFamilyPage.h"
#include "pages/DisplayPage.h"
#include "pages/OptionsPage.h"
#include "pages/ProgrammingPage.h"
#include "pages/TerminalPage.h"
#include "widgets/ComPortGroup.h"
#include "widgets/Controls.h"
#include "widgets/InformationLine.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QDialog>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QKeyEvent>
#include <QMimeData>
#include <QScreen>
#include <QScrollArea>
#include <QTabBar>
#include <QTabWidget>
#include <QTimer>
#include <QVBoxLayout>
#include <QWindow>
#include <algorithm>
#include <utility>

namespace tarvo::ui {

namespace {
// A page's scroll area asks for the page's whole size (Qt's own stops at a few dozen lines of text), so
// that the window opens showing every page whole where the screen has room for it.
class PageScrollArea : public QScrollArea {
public:
    using QScrollArea::QScrollArea;
    QSize sizeHint() const override {
        const int frame = 2 * frameWidth();
        return widget() ? widget()->sizeHint() + QSize(frame, frame) : QScrollArea::sizeHint();
    }
};
} // namespace

MainWindow::MainWindow(MainController& controller, QtOperator& op, QWidget* parent)
    : QMainWindow(parent), c_(controller), op_(op) {
    setWindowTitle(QString::fromLatin1(MainController::kMainCaption));
    setAcceptDrops(true);
    pages_ = new QTabWidget(this);
    pages_->setAccessibleName("Pages");
    setCentralWidget(pages_);

    // The page the window opens on and those that give it its width and height are made now: the
    // Display page (the height) and the Terminal page (the width: its columns of fixed-width text). The
    // others are made just after the window is first on screen, before the device is first contacted,
    // so that the window appears sooner; see buildPages().
    display_ = new DisplayPage(c_, printer_);
    terminal_ = new TerminalPage(c_);
    addPage(Page::Display, "Display", [this] { return display_; });
    addPage(Page::Options, "Options", [this] {
        options_ = new OptionsPage(c_, printer_);
        // Made after the settings were read: it shows them as the window's first showing would have.
        if (shown_)
            options_->showRestoredSettings();
        return options_;
    });
    addPage(Page::Terminal, "Terminal", [this] { return terminal_; });
    addPage(Page::Mxr21, "MXR 21xx", [this] { return new DeviceFamilyPage(FamilyPage::Mxr21, c_); });
    addPage(Page::Mxr23, "MXR 23xx", [this] { return new DeviceFamilyPage(FamilyPage::Mxr23, c_); });
    addPage(Page::Mxr41, "MXR 41xx", [this] { return new DeviceFamilyPage(FamilyPage::Mxr41, c_); });
    addPage(Page::Tcw43, "TCW 43xx", [this] { return new DeviceFamilyPage(FamilyPage::Tcw43, c_); });
    addPage(Page::Commands, "Commands", [this] { return commands_ = new CommandsPage(c_); });
    addPage(Page::Programming, "Programming", [this] { return new ProgrammingPage(c_); });
    for (Page p : {Page::Display, Page::Terminal})
        buildPage(p);
    op_.setParentWindow(this);

    auto* quit = new QAction("Quit", this);
    quit->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));
    // Also from the big display or the "Data" window, which stay on top of this one.
    quit->setShortcutContext(Qt::ApplicationShortcut);
    connect(quit, &QAction::triggered, this, &QWidget::close);
    addAction(quit);

    previousPage_ = pages_->currentWidget();
    connect(pages_, &QTabWidget::currentChanged, this, &MainWindow::currentPageChanged);
    pages_->installEventFilter(this);
    connect(&c_, &MainController::closeRequested, this,
            [this] { QTimer::singleShot(0, this, &QWidget::close); });
    connect(&c_, &MainController::pageControlEnabledChanged, this,
            [this](bool on) { pages_->tabBar()->setEnabled(on); });
    connect(&c_, &MainController::familyTabsChanged, this, &MainWindow::showFamilyTabs);
    connect(&c_.discovery(), &Discovery::changed, this, &MainWindow::showFamilyTabs);
    familyRecheck_.setSingleShot(true);
    connect(&familyRecheck_, &QTimer::timeout, this, &MainWindow::showFamilyTabs);
    showFamilyTabs();

    resize(sizeForPages());
}

QSize MainWindow::sizeForPages() const {
    // Every page whole where the screen has room (Qt alone would stop at two thirds of it), and no
    // larger than the screen's free area where it has not: there the pages scroll.
    // The family pages count too, though out of the page control until a device is found.
    QSize shownPages;
    for (int i = 0; i < pages_->count(); ++i)
        shownPages = shownPages.expandedTo(pages_->widget(i)->sizeHint());
    const QSize chrome = sizeHint() - shownPages;
    QSize size = sizeHint();
    for (QWidget* w : pageWidgets_)
        size = size.expandedTo(w->sizeHint() + chrome);
    if (const QScreen* s = screen())
        size = size.boundedTo(s->availableGeometry().size());
    return size;
}

void MainWindow::addPage(Page page, const QString& title, std::function<QWidget*()> make) {
    auto* holder = new QWidget(pages_);
    auto* layout = new QVBoxLayout(holder);
    // A page taller or wider than a laptop's screen scrolls; the information line under it, where every
    // message appears, stays in view whatever the window's size.
    auto* scroll = new PageScrollArea(holder);
    pageScrolls_[static_cast<int>(page)] = scroll;
    pageMakers_[static_cast<int>(page)] = std::move(make);
    scroll->setWidgetResizable(true);
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setAccessibleName(title);
    layout->addWidget(scroll, 1);
    auto* info = new InformationLine(title, holder);
    layout->addWidget(info);
    op_.setInfoLine(page, info);
    holder->setAccessibleName(title);
    pageWidgets_[static_cast<int>(page)] = holder;
    pages_->addTab(holder, title);
}

void MainWindow::buildPage(Page page) {
    auto& make = pageMakers_[static_cast<int>(page)];
    if (!make)
        return;
    const auto build = std::exchange(make, nullptr);
    QScrollArea* scroll = pageScrolls_[static_cast<int>(page)];
    scroll->setWidget(build());
    // The scroll area asks for its page's size from now on; the holder's layout may have kept the empty
    // area's (the first tab's is asked for when it is added).
    scroll->updateGeometry();
}

bool MainWindow::allPagesBuilt() const {
    return std::none_of(pageMakers_.begin(), pageMakers_.end(), [](const auto& make) { return bool(make); });
}

void MainWindow::buildPages() {
    if (allPagesBuilt())
        return;
    for (Page p : kAllPages)
        buildPage(p);
    // None of them is wider or taller than the pages made first, but should one be (a larger font), the
    // window grows to show it whole as it would have opened.
    if (!isMaximized() && !isFullScreen()) {
        const QSize wanted = size().expandedTo(sizeForPages());
        if (wanted != size())
            resize(wanted);
    }
}

QRadioButton* MainWindow::optionsComButton(int com) {
    buildPage(Page::Options);
    return options_->comPorts()->comButton(com);
}

QRadioButton* MainWindow::terminalComButton(int com) const {
    return terminal_->comPorts()->comButton(com);
}

QPushButton* MainWindow::latestVersionButton() {
    buildPage(Page::Options);
    return options_->latestVersionButton();
}

ScopePanel* MainWindow::scopePanel() const {
    return display_->scopePanel();
}

void MainWindow::showFamilyTabs() {
    // A hidden tab is still listed, and can be chosen, by assistive technology: a page of another device
    // family is taken out of the page control instead, so that nothing can reach it.
    const Page family[] = {Page::Mxr21, Page::Mxr23, Page::Mxr41, Page::Tcw43};
    // The pages that come first: a page taken out while it is shown gives way to the new device's page
    // (else the Display page), not to whichever tab slides into its place.
    QWidget* shownFamily = nullptr;
    for (int f = 0; f < kFamilyPages; ++f) {
        QWidget* w = page(family[f]);
        const QString caption = c_.discovery().familyCaption(static_cast<FamilyPage>(f));
        int index = pages_->indexOf(w);
        if (!c_.familyTabVisible(static_cast<FamilyPage>(f)))
            continue;
        if (index < 0) {
            int at = 0;
            for (Page p : kAllPages) {
                if (p == family[f])
                    break;
                if (pages_->indexOf(page(p)) >= 0)
                    ++at;
            }
            index = pages_->insertTab(at, w, caption);
        }
        pages_->setTabText(index, caption);
        if (!shownFamily)
            shownFamily = w;
    }

    for (int f = 0; f < kFamilyPages; ++f) {
        QWidget* w = page(family[f]);
        const int index = pages_->indexOf(w);
        if (c_.familyTabVisible(static_cast<FamilyPage>(f)) || index < 0)
            continue;
        // The shown page goes while the search runs: whichever tab slides into its place is shown without
        // its page's handlers (they would talk to the device inside the search); the page to show is
        // chosen once the search is over.
        const bool shown = pages_->currentWidget() == w;
        familyPageGaveWay_ = familyPageGaveWay_ || shown;
        quietSwitch_ = shown;
        pages_->removeTab(pages_->indexOf(w));
        quietSwitch_ = false;
    }
    if (familyPageGaveWay_ && c_.discovery().isSearching()) {
        // Looked at again after the search, which tells nothing more when it ends.
        if (!familyRecheck_.isActive())
            familyRecheck_.start(50);
    } else if (familyPageGaveWay_) {
        familyPageGaveWay_ = false;
        QWidget* target = shownFamily ? shownFamily : page(Page::Display);
        if (pages_->currentWidget() != target)
            pages_->setCurrentWidget(target);
        else
            currentPageChanged(pages_->currentIndex());
    }
}

bool MainWindow::eventFilter(QObject* watched, QEvent* event) {
    // Qt's own Ctrl+Tab steps past a locked page control, and onto disabled pages. A locked page control
    // must hold: the keyboard goes only where a click on the tabs could go.
    if (watched != pages_ || event->type() != QEvent::KeyPress)
        return QMainWindow::eventFilter(watched, event);
    const auto* key = static_cast<QKeyEvent*>(event);
    const bool pageKey = (key->key() == Qt::Key_Tab || key->key() == Qt::Key_Backtab) &&
                         (key->modifiers() & Qt::ControlModifier);
    if (!pageKey)
        return QMainWindow::eventFilter(watched, event);
    if (!pages_->tabBar()->isEnabled())
        return true;
    const int count = pages_->count();
    const int step = key->key() == Qt::Key_Backtab || (key->modifiers() & Qt::ShiftModifier) ? count - 1 : 1;
    int index = pages_->currentIndex();
    for (int pass = 1; pass < count; ++pass) {
        index = (index + step) % count;
        if (pages_->isTabEnabled(index)) {
            pages_->setCurrentIndex(index);
            break;
        }
    }
    return true;
}

void MainWindow::showEvent(QShowEvent* event) {
    QMainWindow::showEvent(event);
    if (shown_)
        return;
    shown_ = true;
    if (options_)
        options_->showRestoredSettings();
    scopePanel()->sync();
    // Once the window is on screen: the ports (opening one can take a while), the pages not made yet,
    // then the Display page's show handler, the first device contact. A platform that never says the
    // window is exposed gets them a moment later.
    auto firstOnScreen = [this] {
        // A window closed before it came on screen (a TERM signal at once) has shut the link down.
        if (std::exchange(firstShowDone_, true) || !isVisible())
            return;
        c_.startPorts();
        buildPages();
        c_.displayPageShown();
    };
    struct ExposeWatch : QObject {
        std::function<void()> then;
        bool eventFilter(QObject* watched, QEvent* event) override {
            if (event->type() == QEvent::Expose && static_cast<QWindow*>(watched)->isExposed()) {
                // After this expose has painted the window.
                QTimer::singleShot(0, parent(), then);
                watched->removeEventFilter(this);
                deleteLater();
            }
            return false;
        }
    };
    if (QWindow* handle = windowHandle()) {
        auto* watch = new ExposeWatch;
        watch->setParent(this);
        watch->then = firstOnScreen;
        handle->installEventFilter(watch);
    }
    QTimer::singleShot(500, this, firstOnScreen);
}

void MainWindow::currentPageChanged(int index) {
    if (quietSwitch_)
        return;
    // Kept as the page, not its index: family tabs come and go and move the others.
    QWidget* now = pages_->widget(index);
    QWidget* before = previousPage_;
    previousPage_ = now;
    // A tab put in before the shown one moves its index; the page stays.
    if (before == now)
        return;
    // Chosen before the window made it.
    for (Page p : kAllPages)
        if (now == page(p))
            buildPage(p);
    const Page family[] = {Page::Mxr21, Page::Mxr23, Page::Mxr41, Page::Tcw43};
    if (before == page(Page::Display))
        c_.displayPageHidden();
    else if (before == page(Page::Terminal))
        terminal_->pageHidden();
    else if (before == page(Page::Commands))
        c_.multiCommandSender().commandsPageHidden();
    for (int f = 0; f < kFamilyPages; ++f)
        if (before == page(family[f]))
            c_.familyPageHidden(static_cast<FamilyPage>(f));
    if (now == page(Page::Display))
        c_.displayPageShown();
    else if (now == page(Page::Options))
        c_.optionsPageShown();
    else if (now == page(Page::Terminal))
        terminal_->pageShown();
    else if (now == page(Page::Commands))
        commands_->pageShown();
    for (int f = 0; f < kFamilyPages; ++f)
        if (now == page(family[f]))
            // The read-back talks to the device: after any exchange that still waits.
            whenLinkIdle(c_, [this, f] { c_.familyPageShown(static_cast<FamilyPage>(f)); });
}

void MainWindow::closeEvent(QCloseEvent* event) {
    if (c_.link().isBusy()) {
        // A close during a transaction's wait is taken when the wait ends; the port stays until then.
        event->ignore();
        // Stopping an upgrade halfway would leave the device without firmware: it runs to its end.
        if (c_.firmwareUpgrade().isRunning())
            c_.op().showInfoMessage(QString::fromLatin1(FirmwareUpgrade::kCloseDeferred));
        // A filter search ends with the device's own setting put back, and then the window closes.
        for (QDialog* advisor : findChildren<FilterAdvisorDialog*>())
            advisor->reject();
        c_.link().runWhenIdle([this] { close(); });
        return;
    }
    c_.shutdown();
    event->accept();
    emit closed();
    // A question still open (a signal closes the window while RUN asks) ends as cancelled; the dialogue
    // that asked it runs out without reaching the device.
    for (QWidget* window : QApplication::topLevelWidgets())
        if (auto* dialog = qobject_cast<QDialog*>(window); dialog && dialog->isVisible() && dialog->isModal())
            dialog->reject();
}

void MainWindow::dragEnterEvent(QDragEnterEvent* event) {
    if (c_.acceptsDroppedFiles() && event->mimeData()->hasUrls())
        event->acceptProposedAction();
}

void MainWindow::dropEvent(QDropEvent* event) {
    QStringList paths;
    for (const QUrl& url : event->mimeData()->urls())
        if (url.isLocalFile())
            paths << url.toLocalFile().left(255);
    c_.filesDropped(paths);
    event->acceptProposedAction();
}

} // namespace tarvo::ui

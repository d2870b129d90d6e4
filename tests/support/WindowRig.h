#pragma once

// The program's real windows over simulated devices, for tests that drive them as a person does: clicks,
// keys and drags on the offscreen platform. Message boxes are recorded instead of waiting for a click,
// questions are answered yes (or from a script), save dialogs get the next name of a list.
#include "app/MainController.h"
#include "base/TimeScale.h"
#include "engine/Line.h"
#include "engine/SimulatedPort.h"
#include "engine/SimulatedPorts.h"
#include "ui/ProgramWindows.h"

#include <QAbstractButton>
#include <QAccessible>
#include <QCheckBox>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <deque>
#include <functional>
#include <gtest/gtest.h>
#include <memory>
#include <vector>

namespace tarvo::test {

// The windows' own operator; boxes are recorded instead of waiting for a click, questions are answered
// yes, and save dialogs get the next name of a list.
class ScriptedQtOperator : public tarvo::ui::QtOperator {
public:
    QStringList boxes;
    QStringList saveNames;
    // What the operator does before acknowledging a box (takes the load off the cell, ...).
    std::function<void(const QString&)> onBox;
    void showMessage(const QString& text, const QString&, MessageIcon) override {
        boxes << text;
        if (onBox)
            onBox(text);
    }
    // Every text given to the information lines, in order.
    QStringList infoMessages;
    void showInfoMessage(const QString& text) override {
        infoMessages << text;
        QtOperator::showInfoMessage(text);
    }
    // Answers in order; yes once the script is used up.
    std::deque<bool> answers;
    QStringList questions;
    // The real modal question instead of a scripted answer, for a test that acts while it is open.
    bool realQuestions = false;
    bool askYesNo(const QString& text, const QString& caption) override {
        if (!realQuestions)
            return answer(text);
        questions << text;
        return QtOperator::askYesNo(text, caption);
    }
    bool askOkCancel(const QString& text, const QString&) override { return answer(text); }
    QStringList openNames;
    QString askOpenFileName(const QString&, const QString&) override {
        return openNames.isEmpty() ? QString() : openNames.takeFirst();
    }
    QString askSaveFileName(const QString&, const QString&) override {
        return saveNames.isEmpty() ? QString() : saveNames.takeFirst();
    }

private:
    bool answer(const QString& text) {
        questions << text;
        if (answers.empty())
            return true;
        const bool a = answers.front();
        answers.pop_front();
        return a;
    }
};

inline bool waitFor(const std::function<bool()>& done, int ms = 10000) {
    QElapsedTimer t;
    t.start();
    while (!done()) {
        if (t.elapsed() > ms)
            return false;
        QTest::qWait(5);
    }
    return true;
}

// Simulated lines on COM numbers, a private "Tarvo.ini", and the program's windows over them.
class WindowRig {
public:
    explicit WindowRig(const QString& settings = QStringLiteral("[Port]\nBaud=115200\nComNumber=1\n")) {
        devsim::SimulatedPorts::clear();
        // Device time shrunk twentyfold would leave 5 ms answers, too short for a busy machine.
        TimeScale::setFactor(0.1);
        QFile ini(dir.filePath("Tarvo.ini"));
        if (ini.open(QIODevice::WriteOnly))
            ini.write(settings.toUtf8());
    }
    ~WindowRig() {
        windows.reset();
        controller.reset();
        devsim::SimulatedPorts::clear();
        TimeScale::setFactor(1.0);
    }
    devsim::Line& lineOn(int com, const devsim::DeviceConfig& config = {}, bool withDevice = true) {
        lines.push_back(std::make_unique<devsim::Line>());
        if (withDevice)
            lines.back()->addDevice(config);
        devsim::SimulatedPorts::attach(com, lines.back().get());
        return *lines.back();
    }
    // On the simulated lines by default; a test of the real serial-port path brings its own port.
    void start(std::unique_ptr<SerialPort> port = std::make_unique<devsim::SimulatedPort>()) {
        controller = std::make_unique<MainController>(op, std::move(port), settingsPath);
        ui::ProgramWindows::nameApplication();
        windows = std::make_unique<ui::ProgramWindows>(*controller, op);
        main().show();
        // The first show makes the pages not made yet and contacts the device; let it finish.
        waitFor([this] {
            return main().allPagesBuilt() && controller->pageControlEnabled() && !controller->link().isBusy();
        });
        QTest::qWait(50);
    }
    // Started and the device found first, so that its family page is there and knows the model. Device
    // time is shrunk less than elsewhere: the pages' answers have 100..500 ms of device time and must come
    // in time on a busy machine too.
    void startAndFind() {
        TimeScale::setFactor(0.2);
        start();
        click(named<QPushButton>(Page::Display, "Find Device"));
        ASSERT_TRUE(searched());
    }
    // A family page shown and done reading its device.
    void showFamilyPage(Page p) {
        showPage(p);
        ASSERT_TRUE(
            waitFor([this] { return controller->pageControlEnabled() && !controller->link().isBusy(); }));
        QTest::qWait(30);
    }
    // A device of this identity on COM1, found, and its family page shown and done reading it.
    devsim::Line& startOnFamilyPage(int identity, Page p) {
        devsim::DeviceConfig config;
        config.identity = identity;
        devsim::Line& line = lineOn(1, config);
        startAndFind();
        showFamilyPage(p);
        return line;
    }
    ui::MainWindow& main() { return windows->mainWindow(); }
    QWidget* page(Page p) { return main().page(p); }
    template <typename T> T* named(Page p, const QString& name) {
        for (T* w : page(p)->findChildren<T*>())
            if (w->accessibleName() == name || w->objectName() == name)
                return w;
        return nullptr;
    }
    void click(QAbstractButton* b) {
        ASSERT_NE(b, nullptr);
        // A check box or an option answers on its indicator and text, not on the whole width it is given.
        const bool indicator = qobject_cast<QCheckBox*>(b) || qobject_cast<QRadioButton*>(b);
        QTest::mouseClick(b, Qt::LeftButton, {}, indicator ? QPoint(6, b->height() / 2) : QPoint());
    }
    void showPage(Page p) {
        main().pages()->setCurrentWidget(page(p));
        QTest::qWait(20); // laid out before it is clicked
    }
    bool searched() {
        return waitFor(
            [this] { return !controller->discovery().isSearching() && !controller->link().isBusy(); });
    }
    QString settingsText() {
        QFile ini(settingsPath);
        return ini.open(QIODevice::ReadOnly) ? QString::fromUtf8(ini.readAll()) : QString();
    }

    QTemporaryDir dir;
    // Where the program keeps "Tarvo.ini"; a test may move it before start().
    QString settingsPath = dir.filePath("Tarvo.ini");
    ScriptedQtOperator op;
    std::vector<std::unique_ptr<devsim::Line>> lines;
    std::unique_ptr<MainController> controller;
    std::unique_ptr<ui::ProgramWindows> windows;
};

inline QString accessibleName(QWidget* w) {
    QAccessibleInterface* a = QAccessible::queryAccessibleInterface(w);
    return a ? a->text(QAccessible::Name) : QString();
}

inline QString accessibleDescription(QWidget* w) {
    QAccessibleInterface* a = QAccessible::queryAccessibleInterface(w);
    return a ? a->text(QAccessible::Description) : QString();
}

// What an operator does to a field: click into it, clear it, type.
inline void typeInto(QLineEdit* edit, const QString& text) {
    ASSERT_NE(edit, nullptr);
    edit->setFocus();
    edit->selectAll();
    QTest::keyClick(edit, Qt::Key_Delete);
    QTest::keyClicks(edit, text);
}

// A group's information line, as assistive technology reads it.
inline QString infoLine(WindowRig& rig, Page page, const QString& title) {
    return accessibleName(rig.named<QLabel>(page, title + " information"));
}

inline int lineCount(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    return static_cast<int>(f.readAll().count('\n'));
}

inline QByteArray contents(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

} // namespace tarvo::test

// The yardstick for the program's start: a Qt main window with one label, built with the same compiler,
// flags and Qt as the program. With TARVO_STARTUP_MARK set it reports when its window is first on
// screen, as the program does.
#include "ui/StartupMark.h"

#include <QApplication>
#include <QLabel>
#include <QMainWindow>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QMainWindow window;
    window.setWindowTitle(QStringLiteral("Hello"));
    window.setCentralWidget(new QLabel(QStringLiteral("Hello"), &window));
    tarvo::ui::markFirstExposure(window);
    window.show();
    return app.exec();
}

#include "CaptionedWindow.h"

namespace tarvo::ui {

CaptionedWindow::CaptionedWindow(const QString& caption, bool alwaysOnTop, QWidget* parent)
    : QWidget(parent, alwaysOnTop ? Qt::Window | Qt::WindowStaysOnTopHint : Qt::Window) {
    setWindowTitle(caption);
    setAccessibleName(caption);
}

} // namespace tarvo::ui

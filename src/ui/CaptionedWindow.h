#pragma once

#include <QWidget>

namespace tarvo::ui {

// A small window of its own with a caption; the calibration wizard fills its own as its subsystem
// arrives.
class CaptionedWindow : public QWidget {
    Q_OBJECT
public:
    CaptionedWindow(const QString& caption, bool alwaysOnTop, QWidget* parent = nullptr);
};

} // namespace tarvo::ui

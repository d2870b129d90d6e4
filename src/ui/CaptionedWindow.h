#pragma once

#include <QWidget>

namespace tarvo::ui {

// A small window of its own with a caption; the calibration wizard, the data list and the value pop-up
// fill theirs as their subsystems arrive.
class CaptionedWindow : public QWidget {
    Q_OBJECT
public:
    CaptionedWindow(const QString& caption, bool alwaysOnTop, QWidget* parent = nullptr);
};

} // namespace tarvo::ui

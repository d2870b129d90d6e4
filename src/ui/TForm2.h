#pragma once

#include <QLabel>
#include <QWidget>

namespace tarvo {
class LiveReadout;
}

namespace tarvo::ui {

// The big display: the readout in large lime letters on black, always on top.
class TForm2 : public QWidget {
    Q_OBJECT
public:
    explicit TForm2(QWidget* parent = nullptr);
    void setText(const QString& text) { label_->setText(text); }
    QString text() const { return label_->text(); }
    // Mirrors the readout: its text, "Show big display" showing and hiding the window, and the option
    // cleared when the window is closed by its own close box.
    void follow(LiveReadout& readout);

signals:
    void hidden();

protected:
    void hideEvent(QHideEvent* event) override;

private:
    QLabel* label_;
};

// A small window of its own with a caption; the calibration wizard, the data list and the value pop-up
// fill theirs as their subsystems arrive.
class CaptionedWindow : public QWidget {
    Q_OBJECT
public:
    CaptionedWindow(const QString& caption, bool alwaysOnTop, QWidget* parent = nullptr);
};

} // namespace tarvo::ui

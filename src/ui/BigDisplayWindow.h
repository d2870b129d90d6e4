#pragma once

#include <QLabel>
#include <QWidget>

namespace tarvo {
class LiveReadout;
}

namespace tarvo::ui {

// The big display: the readout in large lime letters on black, always on top.
class BigDisplayWindow : public QWidget {
    Q_OBJECT
public:
    explicit BigDisplayWindow(QWidget* parent = nullptr);
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

} // namespace tarvo::ui

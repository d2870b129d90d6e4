#include "BigDisplayWindow.h"

#include "measure/LiveReadout.h"

#include <QVBoxLayout>

namespace tarvo::ui {

BigDisplayWindow::BigDisplayWindow(QWidget* parent) : QWidget(parent, Qt::Window | Qt::WindowStaysOnTopHint) {
    setWindowTitle("Display");
    setAccessibleName("Display");
    setAutoFillBackground(true);
    QPalette p = palette();
    p.setColor(QPalette::Window, Qt::black);
    p.setColor(QPalette::WindowText, QColor(0x00, 0xFF, 0x00));
    setPalette(p);
    label_ = new QLabel("NO INPUT", this);
    // No accessible name of its own: a screen reader then reads the value shown, and hears it change.
    label_->setObjectName("Big display");
    label_->setAccessibleDescription("Big display");
    label_->setAlignment(Qt::AlignCenter);
    QFont font("Arial");
    font.setPixelSize(96);
    font.setBold(true);
    label_->setFont(font);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(label_);
}

void BigDisplayWindow::follow(LiveReadout& readout) {
    connect(&readout, &LiveReadout::textChanged, this, &BigDisplayWindow::setText);
    connect(&readout, &LiveReadout::bigDisplayVisibilityRequested, this, [this, &readout](bool visible) {
        setText(readout.text());
        setVisible(visible);
    });
    connect(this, &BigDisplayWindow::hidden, &readout, &LiveReadout::bigDisplayHidden);
}

void BigDisplayWindow::hideEvent(QHideEvent* event) {
    QWidget::hideEvent(event);
    emit hidden();
}

} // namespace tarvo::ui

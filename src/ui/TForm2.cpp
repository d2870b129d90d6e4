#include "TForm2.h"

#include "measure/LiveReadout.h"

#include <QVBoxLayout>

namespace tarvo::ui {

TForm2::TForm2(QWidget* parent) : QWidget(parent, Qt::Window | Qt::WindowStaysOnTopHint) {
    setWindowTitle("Display");
    setAccessibleName("Display");
    setAutoFillBackground(true);
    QPalette p = palette();
    p.setColor(QPalette::Window, Qt::black);
    p.setColor(QPalette::WindowText, QColor(0x00, 0xFF, 0x00));
    setPalette(p);
    label_ = new QLabel("NO INPUT", this);
    label_->setAccessibleName("Big display");
    label_->setAlignment(Qt::AlignCenter);
    QFont font("Arial");
    font.setPixelSize(96);
    font.setBold(true);
    label_->setFont(font);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(label_);
}

void TForm2::follow(LiveReadout& readout) {
    connect(&readout, &LiveReadout::textChanged, this, &TForm2::setText);
    connect(&readout, &LiveReadout::bigDisplayVisibilityRequested, this, [this, &readout](bool visible) {
        setText(readout.text());
        setVisible(visible);
    });
    connect(this, &TForm2::hidden, &readout, &LiveReadout::bigDisplayHidden);
}

void TForm2::hideEvent(QHideEvent* event) {
    QWidget::hideEvent(event);
    emit hidden();
}

CaptionedWindow::CaptionedWindow(const QString& caption, bool alwaysOnTop, QWidget* parent)
    : QWidget(parent, alwaysOnTop ? Qt::Window | Qt::WindowStaysOnTopHint : Qt::Window) {
    setWindowTitle(caption);
    setAccessibleName(caption);
}

} // namespace tarvo::ui

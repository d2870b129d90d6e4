#include "DataWindow.h"

#include "measure/DosingMonitor.h"

#include <QListWidget>
#include <QVBoxLayout>

namespace tarvo::ui {

DataWindow::DataWindow(DosingMonitor& monitor, QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::WindowStaysOnTopHint), monitor_(monitor) {
    setWindowTitle(QStringLiteral("Data"));
    setAccessibleName(QStringLiteral("Data"));
    list_ = new QListWidget(this);
    list_->setAccessibleName(QStringLiteral("Data"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(list_);
    resize(220, 400);
    refill();
    connect(&monitor_, &DosingMonitor::dataListChanged, this, &DataWindow::refill);
    connect(&monitor_, &DosingMonitor::showLastAverageChanged, this, [this](bool on) { setVisible(on); });
}

void DataWindow::refill() {
    const QStringList lines = monitor_.dataLines();
    if (list_->count() != lines.size()) {
        list_->clear();
        list_->addItems(lines);
        return;
    }
    for (int i = 0; i < lines.size(); ++i)
        list_->item(i)->setText(lines[i]);
}

void DataWindow::hideEvent(QHideEvent* event) {
    QWidget::hideEvent(event);
    monitor_.dataWindowHidden();
}

} // namespace tarvo::ui

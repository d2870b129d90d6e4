#pragma once

#include <QWidget>

class QListWidget;

namespace tarvo {
class DosingMonitor;
}

namespace tarvo::ui {

// The "Data" window: always on top, one list with the last 100 results, newest first. Shown and hidden
// by "Show Last Average"; hiding it by other means clears that option.
class DataWindow : public QWidget {
    Q_OBJECT
public:
    explicit DataWindow(DosingMonitor& monitor, QWidget* parent = nullptr);
    QListWidget* list() const { return list_; }

protected:
    void hideEvent(QHideEvent* event) override;

private:
    void refill();
    DosingMonitor& monitor_;
    QListWidget* list_;
};

} // namespace tarvo::ui

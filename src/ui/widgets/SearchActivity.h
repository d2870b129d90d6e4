#pragma once

#include <QWidget>

namespace tarvo {
class PortSelection;
}

namespace tarvo::ui {

// The running light shown while the device search runs.
class SearchActivity : public QWidget {
    Q_OBJECT
public:
    explicit SearchActivity(PortSelection& ports, QWidget* parent = nullptr);
};

} // namespace tarvo::ui

#pragma once

#include <QGroupBox>

class QLineEdit;
class QComboBox;
class QPushButton;

namespace tarvo {
class MainController;
}

namespace tarvo::ui {

// The Options page's graph options: graph name, units, the six colour buttons, the mouse mode and
// the pencil buttons that only the pencil mode shows.
class GraphOptionsGroup : public QGroupBox {
    Q_OBJECT
public:
    explicit GraphOptionsGroup(MainController& controller, QWidget* parent = nullptr);
    QLineEdit* unitsEdit() const { return units_; }
    void sync();

private:
    MainController& c_;
    QLineEdit* name_;
    QLineEdit* units_;
    QComboBox* mouseMode_;
    QPushButton* clPencil_;
    QPushButton* clLastPencil_;
};

} // namespace tarvo::ui

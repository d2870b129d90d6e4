#pragma once

#include <QGroupBox>
#include <array>

class QRadioButton;

namespace tarvo::ui {

// A "Baudrate" group of the five rates. The page decides what a click does; showRate() shows the
// rate the core holds.
class BaudGroup : public QGroupBox {
    Q_OBJECT
public:
    explicit BaudGroup(QWidget* parent = nullptr);
    void showRate(int baud);
    QRadioButton* button(int baud) const;

signals:
    void rateClicked(int baud);

private:
    std::array<QRadioButton*, 5> buttons_{};
};

} // namespace tarvo::ui

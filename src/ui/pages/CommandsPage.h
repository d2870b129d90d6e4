#pragma once

#include <QWidget>

namespace tarvo::ui {

// The Commands page; its command panel and sender arrive with the operator console.
class CommandsPage : public QWidget {
    Q_OBJECT
public:
    explicit CommandsPage(QWidget* parent = nullptr);
};

} // namespace tarvo::ui

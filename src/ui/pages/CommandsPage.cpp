#include "CommandsPage.h"

namespace tarvo::ui {

CommandsPage::CommandsPage(QWidget* parent) : QWidget(parent) {}

} // namespace tarvo::ui

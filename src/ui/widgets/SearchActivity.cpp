#include "SearchActivity.h"

#include "link/PortSelection.h"

#include <QProgressBar>
#include <QVBoxLayout>

namespace tarvo::ui {

SearchActivity::SearchActivity(PortSelection& ports, QWidget* parent) : QWidget(parent) {
    auto* bar = new QProgressBar(this);
    bar->setRange(0, 0);
    bar->setTextVisible(false);
    bar->setMaximumHeight(8);
    bar->setAccessibleName("Searching");
    // Shown for a search only: a bar's wish to grow would pull the page's columns aside meanwhile.
    bar->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(bar);
    setVisible(ports.searching());
    connect(&ports, &PortSelection::changed, this, [this, &ports] { setVisible(ports.searching()); });
}

} // namespace tarvo::ui

#include "LazyPrinter.h"

#include <QPrinter>

namespace tarvo::ui {

LazyPrinter::LazyPrinter() = default;
LazyPrinter::~LazyPrinter() = default;

QPrinter& LazyPrinter::get() {
    if (!printer_)
        printer_ = std::make_unique<QPrinter>(QPrinter::HighResolution);
    return *printer_;
}

} // namespace tarvo::ui

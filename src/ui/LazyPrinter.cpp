#include "LazyPrinter.h"

#include "PictureOutput.h"

namespace tarvo::ui {

LazyPrinter::~LazyPrinter() {
    // Made by the module, so loaded.
    if (printer_)
        PictureOutput::load(nullptr)->destroyPrinter(printer_);
}

QPrinter* LazyPrinter::get(QString* problem) {
    if (!printer_) {
        if (PictureOutput* output = PictureOutput::load(problem))
            printer_ = output->makePrinter();
    }
    return printer_;
}

} // namespace tarvo::ui

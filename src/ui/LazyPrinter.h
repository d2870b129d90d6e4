#pragma once

#include <QString>

class QPrinter;

namespace tarvo::ui {

// The printer that "Printer Setup" sets up and "Print graph" prints on. Made when first used: making a
// printer loads the print support and its plugin, which a session that never prints does not need.
class LazyPrinter {
public:
    LazyPrinter() = default;
    ~LazyPrinter();
    LazyPrinter(const LazyPrinter&) = delete;
    LazyPrinter& operator=(const LazyPrinter&) = delete;

    // The printer, made on the first call; nullptr when the print support cannot be loaded, with the
    // reason in problem.
    QPrinter* get(QString* problem = nullptr);
    bool made() const { return printer_ != nullptr; }

private:
    QPrinter* printer_ = nullptr;
};

} // namespace tarvo::ui

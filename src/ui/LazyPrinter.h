#pragma once

#include <memory>

class QPrinter;

namespace tarvo::ui {

// The printer that "Printer Setup" sets up and "Print graph" prints on. Made when first used: making a
// printer loads the print support and its plugin, which a session that never prints does not need.
class LazyPrinter {
public:
    LazyPrinter();
    ~LazyPrinter();
    LazyPrinter(const LazyPrinter&) = delete;
    LazyPrinter& operator=(const LazyPrinter&) = delete;

    QPrinter& get();
    bool made() const { return printer_ != nullptr; }

private:
    std::unique_ptr<QPrinter> printer_;
};

} // namespace tarvo::ui

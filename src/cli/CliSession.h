#pragma once

#include "app/MainController.h"
#include "cli/ConsoleOperator.h"

#include <memory>

namespace tarvo::cli {

// The program's controller as the command-line tool uses it: the same settings file, COM-number map,
// port probe and fall-backs as the windowed program, started without any device traffic and never
// writing the settings back.
class CliSession {
public:
    explicit CliSession(bool answerYes = false);
    ~CliSession();

    ConsoleOperator& op() { return op_; }
    MainController& controller() { return *controller_; }
    // Whether there is a link to search: a COM port the probe found, or the CAN bus chosen. Without one,
    // the reason (with any port another program holds) goes to standard error.
    bool linkAvailable();

private:
    ConsoleOperator op_;
    std::unique_ptr<MainController> controller_;
};

} // namespace tarvo::cli

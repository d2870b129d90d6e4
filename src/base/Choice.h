#pragma once

#include <functional>
#include <utility>

namespace tarvo {

// An option whose action follows the program's selection rule: the operator's choice always runs the
// action; a value set by the program runs it only when the value changes; a value restored at start
// runs nothing (no command may reach the device while the program starts).
template <typename T> class Choice {
public:
    explicit Choice(T initial, std::function<void(const T&)> action = {})
        : value_(std::move(initial)), action_(std::move(action)) {}

    const T& value() const { return value_; }
    void setAction(std::function<void(const T&)> action) { action_ = std::move(action); }

    void choose(const T& v) {
        value_ = v;
        run();
    }
    void setByProgram(const T& v) {
        if (v == value_)
            return;
        value_ = v;
        run();
    }
    void restore(const T& v) { value_ = v; }

private:
    void run() {
        if (action_)
            action_(value_);
    }
    T value_;
    std::function<void(const T&)> action_;
};

} // namespace tarvo

#pragma once

#include "base/Operator.h"

#include <QString>
#include <optional>

namespace tarvo {

// One button of the command panel: its definition from "Tarvocommand.ini" (keys and defaults as the
// button reads them) and what the panel shows on it.
struct CommandButton {
    static constexpr int kWidth = 100;
    static constexpr int kHeight = 45;

    int number = 0; // the section number, CMD<number>
    QString description = QStringLiteral("N/A");
    QString command = QStringLiteral("N/A");
    QString text = QStringLiteral("N/A");
    QString group = QStringLiteral("Standard");
    QString unit;
    QString action = QStringLiteral("Direct");
    QString answer = QStringLiteral("N/A"); // start string of the reply
    int max = 0;
    int min = 0;
    int timeoutMs = 100;
    bool read = true;
    bool write = false;
    // No colour: the platform's button face.
    std::optional<Rgb> colour;

    QString lastValue;
    QString valueLabel;
    int left = 0;
    int top = 0;
    bool pressed = false;

    // The hint of the button and its labels.
    QString hint() const { return description + "\n(Right-click to set value)"; }
};

} // namespace tarvo

#include "AverageEntryChecks.h"

#include "base/NumberText.h"
#include "config/ParameterFields.h"

#include <array>

namespace tarvo {

namespace {
using Check = AverageEntryChecks::Check;

constexpr std::array<Check, 13> kMxr41{{
    {"StartDelay", 0, 65535, "Start delay value out of range 0...65535ms"},
    {"MeasureTime", 0, 3000, "Measure Time value out of range 0...3000ms"},
    {"ReTrigTime", 0, 65535, "ReTrig Time value out of range 0...65535ms"},
    {"TriggerLevel", 0, 99999, "Trigger Level value out of range 0...99999 counts"},
    {"RetrigWindow", 0, 65535, "ReTrig Window value out of range 0...65535 counts"},
    {"TareWindow", 0, 65535, "Tare Window value out of range 0...65535 counts"},
    {"Setpoint0", -99999, 99999, "SetPoint 0 value out of range +-99999 counts"},
    {"Setpoint1", -99999, 99999, "SetPoint 1 value out of range +-99999 counts"},
    {"Hysteresis0", -99999, 99999, "Hysteresis 0 value out of range +-99999 counts"},
    {"Hysteresis1", -99999, 99999, "Hysteresis 1 value out of range +-99999 counts"},
    {"Action0", 0, 1, "Action 0 value out of range 0 or 1"},
    {"Action1", 0, 1, "Action 1 value out of range 0 or 1"},
    {"HoldTime", 0, 65535, "Hold Time value out of range 0...65535ms"},
}};

constexpr std::array<Check, 12> kTcw43{{
    {"StartDelay", 0, 500, "Start delay value out of range 0...500ms"},
    {"MeasureTime", 0, 500, "Measure Time value out of range 0...500ms"},
    {"TriggerLevel", 0, 99999, "Trigger Level value out of range 0...99999 counts"},
    {"Setpoint1", -99999, 99999, "SetPoint 1 value out of range +-99999 counts"},
    {"Setpoint2", -99999, 99999, "SetPoint 2 value out of range +-99999 counts"},
    {"Setpoint3", -99999, 99999, "SetPoint 3 value out of range +-99999 counts"},
    {"Hysteresis1", -99999, 99999, "Hysteresis 1 value out of range +-99999 counts"},
    {"Hysteresis2", -99999, 99999, "Hysteresis 2 value out of range +-99999 counts"},
    {"Hysteresis3", -99999, 99999, "Hysteresis 3 value out of range +-99999 counts"},
    {"Action1", 0, 1, "Action 1 value out of range 0 or 1"},
    {"Action2", 0, 1, "Action 2 value out of range 0 or 1"},
    {"Action3", 0, 1, "Action 3 value out of range 0 or 1"},
}};
} // namespace

std::span<const Check> AverageEntryChecks::mxr41() {
    return kMxr41;
}

std::span<const Check> AverageEntryChecks::tcw43() {
    return kTcw43;
}

QString AverageEntryChecks::firstProblem(const ParameterFields& fields, std::span<const Check> checks) {
    for (const Check& check : checks) {
        const int index = fields.indexOf(QString::fromLatin1(check.field));
        if (index < 0 || !isValidNumber(fields.text(index), check.minimum, check.maximum))
            return QString::fromLatin1(check.message);
    }
    return {};
}

} // namespace tarvo

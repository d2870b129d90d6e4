#pragma once

#include <QString>
#include <span>

namespace tarvo {

class ParameterFields;

// The range checks the averaging runs on the check-weigher fields before it starts: in their order, the
// first field out of range names itself on the page's information line.
class AverageEntryChecks {
public:
    struct Check {
        const char* field; // the field's name in its parameter group
        float minimum;
        float maximum;
        const char* message;
    };
    static std::span<const Check> mxr41();
    static std::span<const Check> tcw43();

    // The message of the first field that fails, or empty when every field passes (a field the group
    // does not have fails: it cannot be checked).
    static QString firstProblem(const ParameterFields& fields, std::span<const Check> checks);
};

} // namespace tarvo

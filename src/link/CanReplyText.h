#pragma once

#include "CanAdapter.h"

#include <QByteArray>
#include <QString>
#include <cstdint>
#include <optional>

namespace tarvo {

struct CommandEntry;

// The texts the CAN bridge writes: replies in the form a serial device sends them, the stream lines and
// P packets it builds from process frames, and its error report.
namespace CanReplyText {

// A 32-bit little-endian value from data bytes 4..7 (a parameter answer's value), or 0..3 (process data).
std::int32_t integerAt(const CanMessage& m, int first);
float floatAt(const CanMessage& m, int first);

// A parameter's value in the row's reply format: 1 "%.3d", 2 "%.3d" + "000", 3 "%.4d", 7 data bytes 4
// and 5 as hex digit pairs, any other sign and five digits. Without prefix and carriage return.
QByteArray parameterValue(const CommandEntry& row, const CanMessage& answer);
// Sign and five digits, as the setpoint replies carry them.
QByteArray signedFive(std::int32_t value);
// A measured value: "+" or "-", then the magnitude by the decimal count (0 "%5.0f", 1 "%6.1f", ...,
// 4 "%6.4f", any other "%g") with "," turned into "." and blanks into "0". Nothing for a value that is
// not a finite number.
std::optional<QByteArray> measuredValue(float value, int decimals);

// The eight-byte P packet a first process frame stands for: v the frame's value, tare the stored tare,
// status bits from data byte 5 and state and decimal nibbles from data byte 7. Nothing when v or the tare
// is not a finite number.
std::optional<QByteArray> statusPacket(const CanMessage& frame, double tare, int decimals);

// The error report's text for a code; nothing for a code that is not shown (receive queue empty).
std::optional<QString> errorReport(std::uint32_t code);

inline constexpr const char* kErrorCaption = "USB2CAN ERROR";

} // namespace CanReplyText

} // namespace tarvo

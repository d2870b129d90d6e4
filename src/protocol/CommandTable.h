#pragma once

#include <QByteArray>
#include <QString>
#include <array>
#include <cstdint>
#include <optional>
#include <string_view>

namespace tarvo {

// One row of the CAN bridge's command table: how a mnemonic maps onto the device's object dictionary.
struct CommandEntry {
    char mnemonic1;
    char mnemonic2; // 0 for the one-letter setpoint rows "S", "H", "A"
    std::string_view description;
    char prefix1;          // reply prefix, at most two characters
    char prefix2;          // 0 when the prefix has one character
    std::uint8_t format;   // 1 "%.3d", 2 "%.3d" + "000", 3 "%.4d", 7 two hex bytes, others sign + five digits
    std::uint8_t kind;     // 0 confirmed action, 1 parameter, 2 setpoint, 3 measured value, 5 save/cycle,
                           // 6/7 process command on the first/second channel, 8 no CAN traffic
    std::uint8_t subIndex; // for setpoint rows the sub-index is index + 1 and this holds 0
    std::uint16_t objectIndex; // for kinds 6..8 a bit mask

    bool isSetpointRow() const { return mnemonic2 == 0; }
};

// The table in its exact order: look-up takes the first match, so "GT" is Get Tare and "SD" Start delay.
inline constexpr std::array<CommandEntry, 66> kCommandTable{{
    {'C', 'E', "Calibrate enable", 'E', 0, 4, 1, 3, 0x2300},
    {'C', 'Z', "Calibrate Zero", 'O', 'K', 0, 0, 10, 0x2300},
    {'C', 'G', "Calibrate Gain", 'G', 0, 4, 1, 4, 0x2300},
    {'C', 'M', "Calibrate Max", 'M', 0, 4, 1, 7, 0x2300},
    {'D', 'S', "Set Display Step Size", 'S', 0, 4, 1, 12, 0x2300},
    {'D', 'P', "Set decimal point", 'P', 0, 4, 1, 11, 0x2300},
    {'A', 'Z', "Absolute Zero", 'Z', 0, 4, 1, 2, 0x2300},
    {'A', 'G', "Absolute Gain", 'G', 0, 4, 1, 1, 0x2300},
    {'Z', 'T', "Zerotracking", 'Z', 0, 1, 1, 18, 0x2100},
    {'F', 'D', "Factory default", 'O', 'K', 1, 5, 2, 0x2006},
    {'C', 'S', "Save calibration", 'O', 'K', 1, 5, 2, 0x2004},
    {'S', 'Z', "Set the System Zero", 'O', 'K', 0, 6, 0, 0x02},
    {'R', 'Z', "Reset the System Zero", 'O', 'K', 0, 6, 0, 0x01},
    {'S', 'T', "Set the tare point", 'O', 'K', 0, 6, 0, 0x08},
    {'R', 'T', "Reset the tare", 'O', 'K', 0, 6, 0, 0x04},
    {'N', 'R', "Set the \"no-motion\" Range", 'R', 0, 4, 1, 10, 0x2100},
    {'N', 'T', "Set the \"no-motion\" Time", 'T', 0, 4, 1, 11, 0x2100},
    {'F', 'L', "Set the filter value", 'F', 0, 4, 1, 4, 0x2100},
    {'F', 'M', "Set the filter mode", 'M', 0, 4, 1, 9, 0x2100},
    {'U', 'R', "Set the update rate", 'U', 0, 4, 1, 17, 0x2100},
    {'W', 'P', "Save General settings", 'O', 'K', 1, 5, 3, 0x2004},
    {'B', 'R', "Bit Rate", 'B', ' ', 1, 1, 1, 0x2007},
    {'A', 'D', "Address", 'A', ' ', 1, 1, 2, 0x2007},
    {'D', 'R', "Address", 'R', ' ', 4, 1, 0, 0x1006},
    {'G', 'G', "Get Gross", 'G', 0, 4, 3, 1, 0x2900},
    {'G', 'N', "Get Net", 'N', 0, 4, 3, 2, 0x2900},
    {'G', 'T', "Get Tare", 'T', 0, 4, 3, 3, 0x2900},
    {'G', 'S', "Get Sample", 'S', 0, 4, 1, 7, 0x2900},
    {'G', 'A', "Get Average", 'A', 0, 4, 3, 6, 0x2900},
    {'I', 'S', "Info Status", 'S', ':', 2, 1, 10, 0x2900},
    {'R', 'R', "Read Reference", 'R', ':', 3, 1, 11, 0x2900},
    {'I', 'N', "Read digital inputs", 'I', 'N', 6, 1, 7, 0x2100},
    {'I', 'O', "Set digital inputs", 'I', 'O', 6, 1, 6, 0x2100},
    {'I', 'M', "Set digital output mask", 'I', 'M', 6, 1, 12, 0x2100},
    {'I', 'D', "Get ID", 'D', ':', 7, 1, 8, 0x2900},
    {'I', 'V', "Get Version", 'V', ':', 7, 1, 9, 0x2900},
    {'S', 'D', "Start delay", 'S', 0, 4, 1, 14, 0x2100},
    {'M', 'T', "Measuring time", 'M', 0, 4, 1, 8, 0x2100},
    {'S', 'S', "Save Setpoints", 'O', 'K', 1, 5, 5, 0x2004},
    {'T', 'L', "Set trigger level", 'T', 0, 4, 1, 1, 0x2500},
    {'T', 'E', "Trigger Egde", 'E', ':', 1, 1, 2, 0x2500},
    {'R', 'W', "Retrig Window", 'R', 0, 4, 1, 3, 0x2500},
    {'T', 'T', "Retrig Time", 'T', 0, 4, 1, 4, 0x2500},
    {'H', 'T', "Hold Time", 'H', 0, 4, 1, 5, 0x2500},
    {'T', 'W', "Tare Window", 'W', 0, 4, 1, 6, 0x2500},
    {'T', 'I', "Tare time", 'T', 0, 4, 1, 7, 0x2500},
    {'D', 'T', "dTime", 'T', 0, 4, 1, 19, 0x2100},
    {'T', 'S', "Retrig Stop", 'T', 0, 4, 1, 8, 0x2500},
    {'T', 'R', "Trigger", 'O', 'K', 0, 7, 0, 0x80},
    {'T', 'A', "Tare Average", 'O', 'K', 0, 8, 0, 0x0080},
    {'D', 'I', "Dose info", 'I', ':', 3, 1, 1, 0x2400},
    {'S', 'C', "Start cycle", 'O', 'K', 1, 5, 1, 0x2005},
    {'A', 'C', "Abort cycle", 'O', 'K', 1, 5, 2, 0x2005},
    {'G', 'D', "Get Dosed Weight", 'D', 0, 4, 1, 4, 0x2001},
    {'G', 'T', "Get Dosed Tare", 'T', 0, 4, 1, 5, 0x2001},
    {'S', 'D', "Save Dosing parameters", 'O', 'K', 1, 5, 4, 0x2004},
    {'L', 'C', "Loss Control", 'C', ':', 1, 1, 1, 0x2C00},
    {'L', 'I', "Loss Info", 'I', ':', 1, 1, 2, 0x2C00},
    {'G', 'F', "Get Flow", 'F', 0, 4, 3, 1, 0x2A00},
    {'G', 'R', "Get Flow Trend", 'T', 0, 4, 3, 2, 0x2A00},
    {'G', 'M', "Get Total Mass", 'L', 0, 4, 3, 3, 0x2A00},
    {'S', 'L', "Save Mass Flow Parameters", 'O', 'K', 1, 5, 6, 0x2004},
    {'S', 0, "Setpoint limit value", 'S', 0, 4, 2, 0, 0x2600},
    {'H', 0, "Setpoint hysteresis value", 'H', 0, 4, 2, 0, 0x2700},
    {'A', 0, "Setpoint source", 'A', 0, 4, 2, 0, 0x2800},
}};

inline constexpr std::size_t kCommandRows = kCommandTable.size();

// The row a word selects, by the bridge's rule: the scan stops at the first row whose first letter is
// the word's and that either matches (both letters, or a one-letter row followed by a non-letter) or is
// a one-letter row. Returns the row index.
std::optional<std::size_t> findCommandRow(std::string_view word);

// The reply prefix of a row as text ("F", "S:", "B ").
QByteArray replyPrefix(const CommandEntry& row);

struct CanBitRate {
    std::string_view name;
    std::uint16_t btr;
    int bitsPerSecond;
};

// CAN speeds in the selector's order; the default is "CAN_BAUD_500K" (position 1).
inline constexpr std::array<CanBitRate, 9> kCanBitRates{{
    {"CAN_BAUD_1M", 0x0014, 1000000},
    {"CAN_BAUD_500K", 0x001C, 500000},
    {"CAN_BAUD_250K", 0x011C, 250000},
    {"CAN_BAUD_125K", 0x031C, 125000},
    {"CAN_BAUD_100K", 0x432F, 100000},
    {"CAN_BAUD_50K", 0x472F, 50000},
    {"CAN_BAUD_20K", 0x532F, 20000},
    {"CAN_BAUD_10K", 0x672F, 10000},
    {"CAN_BAUD_5K", 0x7F7F, 5000},
}};
inline constexpr int kDefaultCanBitRate = 1;

// The bit rate a bit-timing register value stands for; 0 when the value is not in the table.
int canBitsPerSecond(std::uint16_t btr);

// CAN node selector entries "CAN_ADDR_1".."CAN_ADDR_126"; node id = position + 1.
inline constexpr int kCanNodeCount = 126;
QString canNodeName(int nodeId);
// CAN device addresses "0".."63".
inline constexpr int kDeviceAddressCount = 64;

// The serial baud rates, in the order the device search tries them.
inline constexpr std::array<int, 5> kSearchBaudRates{115200, 9600, 19200, 38400, 57600};
// The serial baud rates in ascending order, as the selectors list them.
inline constexpr std::array<int, 5> kBaudRates{9600, 19200, 38400, 57600, 115200};
bool isSupportedBaud(qint64 baud);

// Device address choices on a shared serial line: "None", "00".."63".
QString deviceAddressChoice(int index); // 0 -> "None", 1 -> "00", ...
inline constexpr int kDeviceAddressChoices = 65;
// Whether the text is one of those choices exactly; any other text would reach the line as an address.
bool isDeviceAddressChoice(const QString& text);

// Command lines. Every line ends with one carriage return.
QByteArray commandLine(QByteArrayView mnemonic);                              // "ID\r"
QByteArray commandLine(QByteArrayView mnemonic, long long value, bool blank); // "FL 3\r", "FM0\r"
QByteArray commandLine(QByteArrayView mnemonic, QByteArrayView argumentText,
                       bool blank);                                            // entry text as typed
QByteArray addressLine(QByteArrayView prefix, const QString& twoDigitAddress); // "OP05\r", "CL05\r"
QByteArray baudLine(int baud);                                                 // "br38400\r"

} // namespace tarvo

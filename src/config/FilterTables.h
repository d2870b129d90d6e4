#pragma once

#include <array>
#include <string_view>

namespace tarvo {

// The caption tables of both filter generations. The blanks are part of the texts: the transmitters'
// operators know them in this form.
namespace filter_tables {

inline constexpr int kLevels = 9;
inline constexpr int kRates = 8;

// Cut-off level captions by level (0..8).
inline constexpr std::array<std::string_view, kLevels> kIirLevelCaptions{
    "No filter", "18Hz", "8Hz", "4Hz", "3Hz", "2Hz", "1Hz", "0,5Hz", "0,25Hz"};
inline constexpr std::array<std::string_view, kLevels> kFirLevelCaptions{
    "No filter", "19,7Hz", "9,8Hz", "6,5Hz", "4,9Hz", "3,9Hz", "3,2Hz", "2,8Hz", "2,5Hz"};
inline constexpr std::array<std::string_view, kLevels> kInitialLevelCaptions{
    "FL0", "FL1", "FL2", "FL3", "FL4", "FL5", "FL6", "FL7", "FL8"};

// Update-rate captions by rate (0..7).
inline constexpr std::array<std::string_view, kRates> kInitialRateCaptions{"600", "300", "200",  "150",
                                                                           "120", "100", "85.7", "75"};
inline constexpr std::array<std::string_view, kRates> kIirRateCaptions{"600",  "300",   "150",  "75",
                                                                       "37,5", "18,75", "9,38", "4,69"};
// With FIR the output rate depends on the level too: row = level, column = rate. Row 2, rate 4 reads
// "18,87" on the devices' own documentation and is kept so.
inline constexpr std::array<std::array<std::string_view, kRates>, kLevels> kFirRateCaptions{{
    {"600", "300", "150", "75", "37,5", "18,75", "9,38", "4,69"},
    {"600", "300", "150", "75", "37,5", "18,75", "9,38", "4,69"},
    {"300", "150", "75", "37,5", "18,87", "9,38", "4,69", "2,34"},
    {"200", "100", "50", "25", "12,5", "6,25", "3,13", "1,56"},
    {"150", "75", "37,5", "18,75", "9,38", "4,69", "2,34", "1,17"},
    {"120", "60", "30", "15", "7,5", "3,75", "1,88", "0,94"},
    {"100", "50", "25", "12,5", "6,25", "3,13", "1,56", "0,78"},
    {"85,7", "42,85", "21,42", "10,71", "5,36", "2,68", "1,34", "0,67"},
    {"75", "37,5", "18,75", "9,38", "4,69", "2,34", "1,17", "0,59"},
}};

// Track-bar generation: the filter index names a cut-off and a characteristic.
inline constexpr std::array<std::string_view, 8> kMxr21Captions{
    "   5Hz    Bessel",  "   2Hz    Bessel",  "   1Hz    Bessel",  "  0.5Hz    Bessel",
    "  0.2Hz    Bessel", "  0.1Hz    Bessel", " 0.05Hz    Bessel", " 0.02Hz    Bessel"};
// Index = 3 x step + characteristic (0 Butterworth, 1 Bessel, 2 Gaussian).
inline constexpr std::array<std::string_view, 18> kMxr23Captions{
    "   3Hz    Butterworth",    "   3Hz    Bessel",    "   3Hz    Gaussian",
    "   2Hz     Butterworth",   "   2Hz     Bessel",   "   2Hz     Gaussian",
    "   1,5Hz     Butterworth", "   1,5Hz     Bessel", "   1,5Hz     Gaussian",
    "   1Hz     Butterworth",   "   1Hz     Bessel",   "   1Hz     Gaussian",
    "   0,5Hz     Butterworth", "   0,5Hz     Bessel", "   0,5Hz     Gaussian",
    "   0,2Hz     Butterworth", "   0,2Hz     Bessel", "   0,2Hz     Gaussian"};
inline constexpr std::array<std::string_view, 24> kMxr4110Captions{
    "  14Hz    Butterworth",  "  14Hz    Bessel",       "  14Hz    Gaussian",     "   7Hz     Butterworth",
    "   7Hz     Bessel",      "   7Hz     Gaussian",    "   6Hz     Butterworth", "   6Hz     Bessel",
    "   6Hz     Gaussian",    "   5Hz     Butterworth", "   5Hz     Bessel",      "   5Hz     Gaussian",
    "   4Hz     Butterworth", "   4Hz     Bessel",      "   4Hz     Gaussian",    "   3Hz     Butterworth",
    "   3Hz     Bessel",      "   3Hz     Gaussian",    "   2Hz     Butterworth", "   2Hz     Bessel",
    "   2Hz     Gaussian",    "   1Hz     Butterworth", "   1Hz     Bessel",      "   1Hz     Gaussian"};

} // namespace filter_tables
} // namespace tarvo

#pragma once

#include <string>
#include <string_view>
#include <vector>

// One command of a program message line, as IEEE 488.2 and SCPI-99 write it:
// "*IDN?", ":SOUR:FREQ 1.5 KHZ", "outp on".
struct ScpiCommand {
    bool common = false;             // "*..."
    bool rooted = false;             // a leading ":": the path starts at the root
    bool query = false;              // the header ends with "?"
    std::vector<std::string> nodes;  // the header's mnemonics, upper-cased
    std::vector<std::string> parameters;
};

// The SCPI error numbers this server queues.
namespace scpi {
inline constexpr int kSyntaxError = -102;
inline constexpr int kParameterNotAllowed = -108;
inline constexpr int kMissingParameter = -109;
inline constexpr int kUndefinedHeader = -113;
inline constexpr int kNumericDataError = -120;
inline constexpr int kInvalidSuffix = -131;
inline constexpr int kInvalidCharacterData = -141;
inline constexpr int kSettingsConflict = -221;
inline constexpr int kDataOutOfRange = -222;
inline constexpr int kTooMuchData = -223;
inline constexpr int kIllegalParameterValue = -224;
inline constexpr int kHardwareMissing = -241;
inline constexpr int kQueueOverflow = -350;
inline constexpr int kQueryInterrupted = -410;
inline constexpr int kQueryUnterminated = -420;

// The standard text of an error number.
const char* ErrorText(int code);
}  // namespace scpi

// Splits a line (without its terminator) into its commands at ";". Returns 0,
// or a negative error number for a command that cannot be read; the commands
// before it are kept, the rest are dropped.
int ParseScpiLine(std::string_view line, std::vector<ScpiCommand>& commands);

// Whether a typed mnemonic names a header node written the SCPI way, its
// short form in capitals ("FREQuency": FREQ or FREQUENCY, in any case).
bool MatchesMnemonic(std::string_view typed, std::string_view pattern);

// A header pattern such as "[SOURce:]FREQuency[:CW]" against typed nodes.
bool MatchesHeader(const std::vector<std::string>& nodes, std::string_view pattern);

// A decimal number (NRf) with an optional frequency suffix (HZ, KHZ, MHZ).
// Returns 0 and the value in hertz, or a negative error number. Without a
// suffix, *asTyped (when given) receives the number's text as written.
int ParseFrequency(std::string_view text, double& hertz, std::string* asTyped = nullptr);

#pragma once

#include <initializer_list>
#include <string>
#include <string_view>
#include <utility>
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
inline constexpr int kDataTypeError = -104;
inline constexpr int kParameterNotAllowed = -108;
inline constexpr int kMissingParameter = -109;
inline constexpr int kUndefinedHeader = -113;
inline constexpr int kHeaderSuffixOutOfRange = -114;
inline constexpr int kNumericDataError = -120;
inline constexpr int kInvalidSuffix = -131;
inline constexpr int kSuffixNotAllowed = -138;
inline constexpr int kInvalidCharacterData = -141;
inline constexpr int kTriggerIgnored = -211;
inline constexpr int kSettingsConflict = -221;
inline constexpr int kDataOutOfRange = -222;
inline constexpr int kTooMuchData = -223;
inline constexpr int kIllegalParameterValue = -224;
inline constexpr int kHardwareMissing = -241;
inline constexpr int kQueueOverflow = -350;
inline constexpr int kQueryInterrupted = -410;
inline constexpr int kQueryUnterminated = -420;
inline constexpr int kQueryAfterIndefinite = -440;

// The standard text of an error number.
const char* ErrorText(int code);
}  // namespace scpi

// The length of the block (IEEE 488.2 arbitrary block program data) that
// `text` starts with, header included: "#213<13 bytes>" is 16 long, and
// "#0..." runs to the end; npos when it starts with none, or one cut short.
std::size_t BlockLength(std::string_view text);

// Splits a message (without its terminator) into its commands at ";",
// outside strings and blocks. Returns 0,
// or a negative error number for a command that cannot be read; the commands
// before it are kept, the rest are dropped.
int ParseScpiLine(std::string_view line, std::vector<ScpiCommand>& commands);

// Whether a typed mnemonic names a header node written the SCPI way, its
// short form in capitals ("FREQuency": FREQ or FREQUENCY, in any case).
bool MatchesMnemonic(std::string_view typed, std::string_view pattern);

// A node of a header pattern: its mnemonic, and whether it may be left out.
struct HeaderNode {
    std::string name;
    bool optional = false;
};

// "[SOURce:]FREQuency[:CW]" as its nodes, read once.
std::vector<HeaderNode> ParseHeaderPattern(std::string_view pattern);

// Typed nodes (numeric suffixes taken off) against a pattern.
bool MatchesHeader(const std::vector<std::string>& nodes, const std::vector<HeaderNode>& pattern);
bool MatchesHeader(const std::vector<std::string>& nodes, std::string_view pattern);

// A typed node's numeric suffix split off: "SOUR2" is "SOUR" and 2; "FREQ"
// is "FREQ" and 1, which a node without one means.
std::pair<std::string, long> SplitSuffix(const std::string& node);

// A decimal number (NRf) with an optional frequency suffix (HZ, KHZ, MHZ).
// Returns 0 and the value in hertz, or a negative error number. Without a
// suffix, *asTyped (when given) receives the number's text as written.
int ParseFrequency(std::string_view text, double& hertz, std::string* asTyped = nullptr);

// A decimal number (NRf) with an optional suffix from `suffixes` (upper
// case, each with its multiplier; none given: no suffix allowed). Returns 0
// and the value, or a negative error number.
int ParseNumber(std::string_view text, double& value,
                std::initializer_list<std::pair<std::string_view, double>> suffixes = {});

#include "ScpiParser.h"

#include <algorithm>
#include <cctype>
#include <cmath>

#include "NumberParse.h"

namespace {

std::string Upper(std::string_view text)
{
    std::string upper(text);
    std::transform(upper.begin(), upper.end(), upper.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    return upper;
}

std::string_view Trim(std::string_view text)
{
    const auto space = [](char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; };
    while (!text.empty() && space(text.front())) {
        text.remove_prefix(1);
    }
    while (!text.empty() && space(text.back())) {
        text.remove_suffix(1);
    }
    return text;
}

bool IsMnemonic(std::string_view node)
{
    return !node.empty() && std::isalpha(static_cast<unsigned char>(node.front())) != 0 &&
           std::all_of(node.begin(), node.end(), [](char c) {
               return std::isalnum(static_cast<unsigned char>(c)) != 0 || c == '_';
           });
}

}  // namespace

std::size_t BlockLength(std::string_view text)
{
    if (text.size() < 2 || text[0] != '#' ||
        std::isdigit(static_cast<unsigned char>(text[1])) == 0) {
        return std::string_view::npos;
    }
    if (text[1] == '0') {
        return text.size();  // indefinite: to the message's end
    }
    const std::size_t digits = static_cast<std::size_t>(text[1] - '0');
    if (text.size() < 2 + digits) {
        return std::string_view::npos;
    }
    std::size_t length = 0;
    for (std::size_t i = 2; i < 2 + digits; ++i) {
        if (std::isdigit(static_cast<unsigned char>(text[i])) == 0) {
            return std::string_view::npos;
        }
        length = length * 10 + static_cast<std::size_t>(text[i] - '0');
    }
    const std::size_t total = 2 + digits + length;
    return total <= text.size() ? total : std::string_view::npos;
}

namespace {

// The length of the string ("..." or '...') or block that `text` starts
// with: 0 for neither, npos for one that is not closed. (A doubled quote
// is two strings side by side.)
std::size_t DataLength(std::string_view text)
{
    if (!text.empty() && (text[0] == '"' || text[0] == '\'')) {
        const std::size_t close = text.find(text[0], 1);
        return close == std::string_view::npos ? close : close + 1;
    }
    if (text.size() >= 2 && text[0] == '#' &&
        std::isdigit(static_cast<unsigned char>(text[1])) != 0) {
        return BlockLength(text);
    }
    return 0;
}

// Splits at `separator` outside strings and blocks; false when a string
// or a block is not closed.
bool SplitOutside(std::string_view text, char separator, std::vector<std::string_view>& parts)
{
    std::size_t start = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const std::size_t data = DataLength(text.substr(i));
        if (data == std::string_view::npos) {
            return false;
        }
        if (data > 0) {
            i += data - 1;
        } else if (text[i] == separator) {
            parts.push_back(text.substr(start, i - start));
            start = i + 1;
        }
    }
    parts.push_back(text.substr(start));
    return true;
}

// IEEE 488.2's non-decimal numbers: #H3E8, #Q1750, #B1111101000.
bool ParseNonDecimalPrefix(std::string_view text, double& value, std::size_t& used)
{
    if (text.size() < 3 || text[0] != '#') {
        return false;
    }
    const char radixLetter = static_cast<char>(std::toupper(static_cast<unsigned char>(text[1])));
    const int radix = radixLetter == 'H' ? 16 : radixLetter == 'Q' ? 8 : radixLetter == 'B' ? 2 : 0;
    if (radix == 0) {
        return false;
    }
    double number = 0.0;
    std::size_t at = 2;
    for (; at < text.size(); ++at) {
        const int c = std::toupper(static_cast<unsigned char>(text[at]));
        const int digit = std::isdigit(c) != 0 ? c - '0' : c >= 'A' && c <= 'F' ? c - 'A' + 10 : 99;
        if (digit >= radix) {
            break;
        }
        number = number * radix + digit;
    }
    if (at == 2) {
        return false;
    }
    value = number;
    used = at;
    return true;
}

// A number's text at the start: decimal (NRf) or non-decimal.
bool ParseNumberPrefix(const std::string& text, double& value, std::size_t& used)
{
    return ParseNonDecimalPrefix(text, value, used) ||
           (ParseDecimalPrefix(text.c_str(), value, used) && used > 0);
}

std::vector<std::string_view> SplitOutsideQuotes(std::string_view text, char separator)
{
    std::vector<std::string_view> parts;
    if (!SplitOutside(text, separator, parts)) {
        parts.assign(1, text);
    }
    return parts;
}

// Where the data of the last string or block in `text` ends (0: none).
std::size_t DataEnd(std::string_view text)
{
    std::size_t end = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const std::size_t data = DataLength(text.substr(i));
        if (data == std::string_view::npos) {
            return text.size();  // (open to the end)
        }
        if (data > 0) {
            i += data - 1;
            end = i + 1;
        }
    }
    return end;
}

// A text without the white space about it; a block keeps its bytes.
std::string_view TrimParameter(std::string_view text)
{
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.front())) != 0) {
        text.remove_prefix(1);
    }
    const std::size_t keep = DataEnd(text);
    while (text.size() > keep && std::isspace(static_cast<unsigned char>(text.back())) != 0) {
        text.remove_suffix(1);
    }
    return text;
}

int ParseCommand(std::string_view text, ScpiCommand& command)
{
    const std::size_t space = text.find_first_of(" \t");
    std::string_view header = text.substr(0, space);
    const std::string_view rest =
        space == std::string_view::npos ? "" : TrimParameter(text.substr(space));
    if (!header.empty() && header.back() == '?') {
        command.query = true;
        header.remove_suffix(1);
    }
    if (!header.empty() && header.front() == '*') {
        command.common = true;
        header.remove_prefix(1);
    } else if (!header.empty() && header.front() == ':') {
        command.rooted = true;
        header.remove_prefix(1);
    }
    for (std::string_view node : SplitOutsideQuotes(header, ':')) {
        if (!IsMnemonic(node)) {
            return scpi::kSyntaxError;
        }
        command.nodes.push_back(Upper(node));
    }
    if (command.common && command.nodes.size() != 1) {
        return scpi::kSyntaxError;
    }
    if (!rest.empty()) {
        std::vector<std::string_view> parameters;
        if (!SplitOutside(rest, ',', parameters)) {
            return scpi::kSyntaxError;
        }
        for (std::string_view parameter : parameters) {
            parameter = TrimParameter(parameter);
            if (parameter.empty()) {
                return scpi::kMissingParameter;
            }
            command.parameters.emplace_back(parameter);
        }
    }
    return 0;
}

}  // namespace

namespace scpi {

const char* ErrorText(int code)
{
    switch (code) {
    case 0:
        return "No error";
    case kSyntaxError:
        return "Syntax error";
    case kParameterNotAllowed:
        return "Parameter not allowed";
    case kMissingParameter:
        return "Missing parameter";
    case kUndefinedHeader:
        return "Undefined header";
    case kHeaderSuffixOutOfRange:
        return "Header suffix out of range";
    case kDataTypeError:
        return "Data type error";
    case kSuffixNotAllowed:
        return "Suffix not allowed";
    case kNumericDataError:
        return "Numeric data error";
    case kInvalidSuffix:
        return "Invalid suffix";
    case kInvalidCharacterData:
        return "Invalid character data";
    case kTriggerIgnored:
        return "Trigger ignored";
    case kSettingsConflict:
        return "Settings conflict";
    case kDataOutOfRange:
        return "Data out of range";
    case kTooMuchData:
        return "Too much data";
    case kIllegalParameterValue:
        return "Illegal parameter value";
    case kHardwareMissing:
        return "Hardware missing";
    case kQueueOverflow:
        return "Queue overflow";
    case kQueryInterrupted:
        return "Query INTERRUPTED";
    case kQueryUnterminated:
        return "Query UNTERMINATED";
    case kQueryAfterIndefinite:
        return "Query UNTERMINATED after indefinite response";
    default:
        return "Error";
    }
}

}  // namespace scpi

int ParseScpiLine(std::string_view line, std::vector<ScpiCommand>& commands)
{
    std::vector<std::string_view> texts;
    if (!SplitOutside(line, ';', texts)) {
        return scpi::kSyntaxError;  // a string or block left open: nothing runs
    }
    for (std::string_view text : texts) {
        text = TrimParameter(text);
        if (text.empty()) {
            continue;  // ";;" and a trailing ";" say nothing
        }
        ScpiCommand command;
        if (const int error = ParseCommand(text, command); error != 0) {
            return error;
        }
        commands.push_back(std::move(command));
    }
    return 0;
}

bool MatchesMnemonic(std::string_view typed, std::string_view pattern)
{
    std::string shortForm;
    for (char c : pattern) {
        if (std::isupper(static_cast<unsigned char>(c)) != 0 || std::isdigit(c) != 0) {
            shortForm += c;
        }
    }
    const std::string upper = Upper(typed);
    return upper == shortForm || upper == Upper(pattern);
}

std::vector<HeaderNode> ParseHeaderPattern(std::string_view pattern)
{
    std::vector<HeaderNode> wanted;
    std::size_t at = 0;
    while (at < pattern.size()) {
        const bool optional = pattern[at] == '[';
        const std::size_t end = pattern.find(optional ? ']' : '[', at);
        std::string_view part =
            pattern.substr(at, end == std::string_view::npos ? std::string_view::npos
                                                             : end - at + (optional ? 1 : 0));
        at = end == std::string_view::npos ? pattern.size() : end + (optional ? 1 : 0);
        if (optional) {
            part = part.substr(1, part.size() - 2);
        }
        for (std::string_view name : SplitOutsideQuotes(part, ':')) {
            if (!name.empty()) {
                wanted.push_back({std::string(name), optional});
            }
        }
    }
    return wanted;
}

bool MatchesHeader(const std::vector<std::string>& nodes, const std::vector<HeaderNode>& wanted)
{
    // Matches nodes[i..] against wanted[j..], skipping optional nodes.
    const auto match = [&](auto& self, std::size_t i, std::size_t j) -> bool {
        if (j == wanted.size()) {
            return i == nodes.size();
        }
        if (i < nodes.size() && MatchesMnemonic(nodes[i], wanted[j].name) &&
            self(self, i + 1, j + 1)) {
            return true;
        }
        return wanted[j].optional && self(self, i, j + 1);
    };
    return match(match, 0, 0);
}

bool MatchesHeader(const std::vector<std::string>& nodes, std::string_view pattern)
{
    return MatchesHeader(nodes, ParseHeaderPattern(pattern));
}

std::pair<std::string, long> SplitSuffix(const std::string& node)
{
    std::size_t digits = node.size();
    while (digits > 0 && std::isdigit(static_cast<unsigned char>(node[digits - 1])) != 0) {
        --digits;
    }
    if (digits == node.size() || digits == 0) {
        return {node, 1};  // none written means 1
    }
    // (More than nine digits is out of every range: read as the largest.)
    const long suffix = node.size() - digits > 9 ? 999999999 : std::stol(node.substr(digits));
    return {node.substr(0, digits), suffix};
}

int ParseFrequency(std::string_view text, double& hertz, std::string* asTyped)
{
    // The number: the frequency box's own reading, then a suffix.
    const std::string number(text);
    std::size_t used = 0;
    if (!ParseNumberPrefix(number, hertz, used)) {
        return scpi::kInvalidCharacterData;
    }
    const std::string suffix = Upper(Trim(text.substr(used)));
    if (suffix.empty() || suffix == "HZ") {
        if (asTyped != nullptr) {
            *asTyped = number.substr(0, used);
        }
        return 0;
    }
    if (suffix == "KHZ") {
        hertz *= 1e3;
    } else if (suffix == "MHZ" || suffix == "MAHZ") {
        hertz *= 1e6;
    } else if (suffix == "GHZ") {
        hertz *= 1e9;
    } else {
        return scpi::kInvalidSuffix;
    }
    return std::isfinite(hertz) ? 0 : scpi::kNumericDataError;
}

int ParseNumber(std::string_view text, double& value,
                std::initializer_list<std::pair<std::string_view, double>> suffixes)
{
    const std::string number(text);
    std::size_t used = 0;
    if (!ParseNumberPrefix(number, value, used)) {
        return scpi::kDataTypeError;
    }
    const std::string suffix = Upper(Trim(text.substr(used)));
    if (suffix.empty()) {
        return 0;
    }
    if (suffixes.size() == 0) {
        return scpi::kSuffixNotAllowed;
    }
    for (const auto& [name, multiplier] : suffixes) {
        if (suffix == name) {
            value *= multiplier;
            return 0;
        }
    }
    return scpi::kInvalidSuffix;
}

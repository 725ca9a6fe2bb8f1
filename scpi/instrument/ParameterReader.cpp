#include "ParameterReader.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace {

bool Is(const std::string& text, const char* mnemonic)
{
    return MatchesMnemonic(text, mnemonic);
}

}  // namespace

std::string ScpiNumber(double value)
{
    char text[64];
    std::snprintf(text, sizeof text, "%.10E", value);
    return text;
}

std::string ScpiString(std::string_view text, std::size_t most)
{
    while (!text.empty() && text.back() == '\n') {
        text.remove_suffix(1);
    }
    std::string inside;
    for (char c : text) {
        const std::string piece = c == '\n' ? " " : c == '"' ? "\"\"" : std::string(1, c);
        if (inside.size() + piece.size() > most) {
            break;
        }
        inside += piece;
    }
    return "\"" + inside + "\"";
}

bool ParameterReader::TakesOne(const ScpiCommand& command)
{
    if (command.parameters.size() == 1) {
        return true;
    }
    m_queue(command.parameters.empty() ? scpi::kMissingParameter : scpi::kParameterNotAllowed, {});
    return false;
}

bool ParameterReader::TakesNone(const ScpiCommand& command)
{
    if (command.parameters.empty()) {
        return true;
    }
    m_queue(scpi::kParameterNotAllowed, {});
    return false;
}

void ParameterReader::QueueValueError(int error, const std::string& detail)
{
    m_queue(error == scpi::kDataTypeError ? scpi::kIllegalParameterValue : error, detail);
}

bool ParameterReader::ReadBoolean(const std::string& text, bool& value)
{
    if (Is(text, "ON") || Is(text, "OFF")) {
        value = Is(text, "ON");
        return true;
    }
    double number = 0.0;
    if (const int error = ParseNumber(text, number); error != 0 || std::isnan(number)) {
        QueueValueError(error, "not ON, OFF or a number: " + text);
        return false;
    }
    value = std::round(number) != 0.0;
    return true;
}

bool ParameterReader::ReadInteger(const std::string& text, int most, int& value)
{
    double number = 0.0;
    if (const int error = ParseNumber(text, number); error != 0) {
        m_queue(error, text);
        return false;
    }
    number = std::round(number);
    if (!(number >= 0.0 && number <= most)) {
        m_queue(scpi::kDataOutOfRange, text + " is not 0 to " + std::to_string(most));
        return false;
    }
    value = static_cast<int>(number);
    return true;
}

bool ParameterReader::ReadLimitQuery(const ScpiCommand& command, Limits limits, double& value)
{
    if (command.parameters.empty()) {
        return true;
    }
    const std::string& text = command.parameters.front();
    if (command.parameters.size() > 1 ||
        !(Is(text, "MINimum") || Is(text, "MAXimum") || Is(text, "DEFault"))) {
        m_queue(scpi::kParameterNotAllowed, text);
        return false;
    }
    value = Is(text, "MINimum")   ? limits.least
            : Is(text, "MAXimum") ? limits.most
                                  : limits.byDefault;
    return true;
}

bool ParameterReader::ReadSetting(const ScpiCommand& command, Limits limits, Suffixes suffixes,
                                  const char* what, const char* unit, double& value)
{
    if (!TakesOne(command)) {
        return false;
    }
    const std::string& text = command.parameters.front();
    if (Is(text, "MINimum") || Is(text, "MAXimum") || Is(text, "DEFault")) {
        return ReadLimitQuery(command, limits, value);
    }
    double number = 0.0;
    if (const int error = ParseNumber(text, number, suffixes); error != 0) {
        QueueValueError(error, std::string("not a ") + what + ": " + text);
        return false;
    }
    // (A relative tolerance, so that a limit read back as NR3 is accepted.)
    const double slack = 1e-12 * std::max(std::fabs(limits.least), std::fabs(limits.most));
    if (!(number >= limits.least - slack && number <= limits.most + slack)) {
        std::string reason = std::string("the ") + what + " is " + ScpiNumber(limits.least) +
                             " to " + ScpiNumber(limits.most);
        if (*unit != '\0') {
            reason += ' ';
            reason += unit;
        }
        m_queue(scpi::kDataOutOfRange, reason);
        return false;
    }
    value = std::clamp(number, limits.least, limits.most);
    return true;
}

bool ParameterReader::ReadChoice(const ScpiCommand& command,
                                 std::initializer_list<const char*> choices, int& index)
{
    if (!TakesOne(command)) {
        return false;
    }
    index = 0;
    for (const char* choice : choices) {
        if (Is(command.parameters.front(), choice)) {
            return true;
        }
        ++index;
    }
    std::string names;
    for (const char* choice : choices) {
        names += names.empty() ? "" : ", ";
        names += choice;
    }
    m_queue(scpi::kIllegalParameterValue, "not " + names + ": " + command.parameters.front());
    return false;
}

#pragma once

#include <functional>
#include <initializer_list>
#include <string>
#include <string_view>
#include <utility>

#include "ScpiParser.h"

// Reads a command's parameters the way every header of the instrument
// does; each reading that fails queues its error and returns false.
class ParameterReader {
public:
    using QueueError = std::function<void(int code, const std::string& detail)>;
    using Suffixes = std::initializer_list<std::pair<std::string_view, double>>;
    struct Limits {
        double least, most, byDefault;
    };

    explicit ParameterReader(QueueError queue) : m_queue(std::move(queue)) {}

    // Exactly one parameter, or none.
    bool TakesOne(const ScpiCommand& command);
    bool TakesNone(const ScpiCommand& command);
    // A value that is no number where one belongs is an illegal value; any
    // other reading error stands as it is.
    void QueueValueError(int error, const std::string& detail);
    // ON, OFF, or a number that is ON when it rounds to anything but 0.
    bool ReadBoolean(const std::string& text, bool& value);
    // A number rounded to an integer from 0 to `most`, as IEEE 488.2 reads NRf.
    bool ReadInteger(const std::string& text, int most, int& value);
    // A query's optional MINimum, MAXimum or DEFault: that value in
    // `value`, or nothing asked (value untouched).
    bool ReadLimitQuery(const ScpiCommand& command, Limits limits, double& value);
    // A setting's one number: MINimum, MAXimum, DEFault, or a number with
    // one of `suffixes`, from least to most (-222 outside, naming `what`
    // and its limits in `unit`).
    bool ReadSetting(const ScpiCommand& command, Limits limits, Suffixes suffixes, const char* what,
                     const char* unit, double& value);
    // A setting's one word among `choices` (SCPI mnemonics): its place.
    bool ReadChoice(const ScpiCommand& command, std::initializer_list<const char*> choices,
                    int& index);

private:
    QueueError m_queue;
};

// NR3, as the instrument answers every real number.
std::string ScpiNumber(double value);
// A text as a SCPI string: on one line, quotes doubled, at most `most`
// characters between the quotes.
std::string ScpiString(std::string_view text, std::size_t most = std::string::npos);

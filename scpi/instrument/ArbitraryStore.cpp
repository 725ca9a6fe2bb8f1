#include "ArbitraryStore.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdint>
#include <cstring>

#include "ScpiParser.h"

int ArbitraryStore::Store(const std::string& name, const std::vector<std::string>& values, bool dac,
                          bool swapped, std::string& detail)
{
    if (name.empty()) {
        detail = "a waveform's name is a letter, then up to 11 letters, digits or _";
        return scpi::kIllegalParameterValue;
    }
    if (!m_waveforms.contains(name) && m_waveforms.size() >= kMostWaveforms) {
        detail = "the memory holds " + std::to_string(kMostWaveforms) + " waveforms: delete one";
        return scpi::kTooMuchData;
    }
    std::vector<double> points;
    if (values.size() == 1 && BlockLength(values.front()) != std::string::npos) {
        if (const int error = ReadBlock(values.front(), dac, swapped, points, detail); error != 0) {
            return error;
        }
    } else {
        if (values.size() > kMostPoints) {
            detail = "at most " + std::to_string(kMostPoints) + " points";
            return scpi::kTooMuchData;
        }
        for (const std::string& text : values) {
            double value = 0.0;
            if (const int error = ParseNumber(text, value); error != 0) {
                detail = "not a number: " + text;
                return error == scpi::kDataTypeError ? scpi::kIllegalParameterValue : error;
            }
            if (dac ? !(value >= -kMostCode && value <= kMostCode && value == std::trunc(value))
                    : !(value >= -1.0 && value <= 1.0)) {
                detail = dac ? "a code is a whole number from -32767 to 32767: " + text
                             : "a value is from -1 to 1: " + text;
                return scpi::kDataOutOfRange;
            }
            points.push_back(dac ? value / kMostCode : value);
        }
    }
    if (points.size() < kLeastPoints || points.size() > kMostPoints) {
        detail = "a waveform has " + std::to_string(kLeastPoints) + " to " +
                 std::to_string(kMostPoints) + " points, not " + std::to_string(points.size());
        return points.size() < kLeastPoints ? scpi::kMissingParameter : scpi::kTooMuchData;
    }
    m_waveforms[name] = std::make_shared<const std::vector<double>>(std::move(points));
    return 0;
}

int ArbitraryStore::ReadBlock(const std::string& block, bool dac, bool swapped,
                              std::vector<double>& points, std::string& detail) const
{
    // "#<n><length><bytes>", or "#0<bytes>" to the end.
    const std::size_t digits = static_cast<std::size_t>(block[1] - '0');
    const std::string_view bytes = std::string_view(block).substr(2 + digits);
    const std::size_t size = dac ? 2 : 4;  // 16-bit codes, or 32-bit IEEE floats
    if (bytes.size() % size != 0 || bytes.size() / size > kMostPoints) {
        detail = "a block holds " + std::to_string(size) + " bytes a point, at most " +
                 std::to_string(kMostPoints) + " points";
        return bytes.size() % size != 0 ? scpi::kIllegalParameterValue : scpi::kTooMuchData;
    }
    for (std::size_t i = 0; i < bytes.size(); i += size) {
        std::uint32_t word = 0;
        for (std::size_t k = 0; k < size; ++k) {
            const auto byte = static_cast<unsigned char>(bytes[i + (swapped ? size - 1 - k : k)]);
            word = (word << 8) | byte;
        }
        float real = 0.0F;
        std::memcpy(&real, &word, sizeof real);
        const double value = dac ? static_cast<double>(static_cast<std::int16_t>(word)) / kMostCode
                                 : static_cast<double>(real);
        if (!(value >= -1.0 && value <= 1.0)) {
            detail = dac ? "a code is from -32767 to 32767: -32768" : "a value is from -1 to 1";
            return scpi::kDataOutOfRange;
        }
        points.push_back(value);
    }
    return 0;
}

ArbitraryStore::Points ArbitraryStore::Find(const std::string& name) const
{
    const auto found = m_waveforms.find(name);
    return found == m_waveforms.end() ? nullptr : found->second;
}

bool ArbitraryStore::Delete(const std::string& name)
{
    return m_waveforms.erase(name) > 0;
}

std::vector<std::string> ArbitraryStore::Names() const
{
    std::vector<std::string> names;
    for (const auto& [name, points] : m_waveforms) {
        names.push_back(name);
    }
    return names;
}

std::string ArbitraryStore::NameOf(const std::string& typed)
{
    std::string name = typed;
    if (name.size() >= 2 && (name.front() == '"' || name.front() == '\'') &&
        name.back() == name.front()) {
        name = name.substr(1, name.size() - 2);
    }
    if (name.empty() || name.size() > kMostNameLength ||
        !std::isalpha(static_cast<unsigned char>(name.front()))) {
        return {};
    }
    for (char& c : name) {
        if (!std::isalnum(static_cast<unsigned char>(c)) && c != '_') {
            return {};
        }
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    return name;
}

double ArbitraryRms(const std::vector<double>& points)
{
    double sum = 0.0;
    double squares = 0.0;
    for (std::size_t k = 0; k < points.size(); ++k) {
        const double a = points[k];
        const double b = points[(k + 1) % points.size()];
        sum += (a + b) / 2;
        squares += (a * a + a * b + b * b) / 3;
    }
    const double n = static_cast<double>(points.size());
    const double mean = sum / n;
    return std::sqrt(std::max(0.0, squares / n - mean * mean));
}

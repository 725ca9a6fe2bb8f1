#include "ArbitraryFile.h"

#include <cerrno>
#include <charconv>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "ShapeSettings.h"

namespace {

constexpr double kMostCode = 32767.0;

std::string ReadCodes(const std::string& bytes, std::vector<double>& points)
{
    if (bytes.size() % 2 != 0) {
        return "an odd number of bytes: 16-bit codes take two each";
    }
    for (std::size_t i = 0; i < bytes.size(); i += 2) {
        const auto code = static_cast<std::int16_t>(static_cast<unsigned char>(bytes[i]) |
                                                    static_cast<unsigned char>(bytes[i + 1]) << 8);
        if (code < -kMostCode) {
            return "the code -32768 is below -32767, which is -1";
        }
        points.push_back(code / kMostCode);
    }
    return {};
}

std::string ReadValues(const std::string& text, std::vector<double>& points)
{
    std::size_t line = 0;
    for (std::size_t start = 0; start < text.size();) {
        std::size_t end = text.find('\n', start);
        end = end == std::string::npos ? text.size() : end;
        ++line;
        std::string_view value(text.data() + start, end - start);
        while (!value.empty() && (value.back() == '\r' || value.back() == ' ')) {
            value.remove_suffix(1);
        }
        while (!value.empty() && value.front() == ' ') {
            value.remove_prefix(1);
        }
        start = end + 1;
        if (value.empty()) {
            continue;
        }
        double point = 0.0;
        const auto [stop, error] =
            std::from_chars(value.data(), value.data() + value.size(), point);
        if (error != std::errc() || stop != value.data() + value.size() || !(point >= -1.0) ||
            !(point <= 1.0)) {
            return "line " + std::to_string(line) +
                   ": not a number from -1 to 1: " + std::string(value);
        }
        points.push_back(point);
    }
    return {};
}

}  // namespace

std::string ReadArbitraryFile(const std::string& path, std::vector<double>& points)
{
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) {
        return "cannot read " + path + ": " + std::strerror(errno);
    }
    std::string bytes;
    char chunk[4096];
    for (std::size_t got; (got = std::fread(chunk, 1, sizeof chunk, file)) > 0;) {
        bytes.append(chunk, got);
    }
    const bool failed = std::ferror(file) != 0;
    std::fclose(file);
    if (failed) {
        return "cannot read " + path;
    }
    const bool raw = path.size() >= 4 && path.compare(path.size() - 4, 4, ".raw") == 0;
    points.clear();
    if (std::string reason = raw ? ReadCodes(bytes, points) : ReadValues(bytes, points);
        !reason.empty()) {
        return path + ": " + reason;
    }
    if (points.size() < kLeastArbitraryPoints || points.size() > kMostArbitraryPoints) {
        return path + ": " + std::to_string(points.size()) + " points; a waveform has " +
               std::to_string(kLeastArbitraryPoints) + " to " +
               std::to_string(kMostArbitraryPoints);
    }
    return {};
}

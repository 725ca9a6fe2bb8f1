#include "LoopWriter.h"

#include <unistd.h>

#include <array>
#include <bit>
#include <cerrno>
#include <cstring>
#include <vector>

namespace {

std::string WriteAll(int fd, const void* data, std::size_t size)
{
    const auto* bytes = static_cast<const unsigned char*>(data);
    while (size > 0) {
        const ssize_t written = write(fd, bytes, size);
        if (written < 0 && errno == EINTR) {
            continue;
        }
        if (written <= 0) {
            return std::strerror(errno);
        }
        bytes += written;
        size -= static_cast<std::size_t>(written);
    }
    return {};
}

void PutLe(unsigned char* at, std::uint32_t value, int bytes)
{
    for (int i = 0; i < bytes; ++i) {
        at[i] = static_cast<unsigned char>(value >> (8 * i));
    }
}

// The canonical 44-byte header of 16-bit mono PCM.
std::array<unsigned char, 44> WavHeader(unsigned sampleRate, std::uint32_t dataBytes)
{
    std::array<unsigned char, 44> h{};
    std::memcpy(&h[0], "RIFF", 4);
    PutLe(&h[4], 36 + dataBytes, 4);
    std::memcpy(&h[8], "WAVEfmt ", 8);
    PutLe(&h[16], 16, 4);              // fmt chunk size
    PutLe(&h[20], 1, 2);               // PCM
    PutLe(&h[22], 1, 2);               // mono
    PutLe(&h[24], sampleRate, 4);      // samples per second
    PutLe(&h[28], 2 * sampleRate, 4);  // bytes per second
    PutLe(&h[32], 2, 2);               // block align
    PutLe(&h[34], 16, 2);              // bits per sample
    std::memcpy(&h[36], "data", 4);
    PutLe(&h[40], dataBytes, 4);
    return h;
}

// The buffer as little-endian bytes: itself on a little-endian machine.
const void* LittleEndian(const std::int16_t* samples, std::size_t count,
                         std::vector<unsigned char>& scratch)
{
    if constexpr (std::endian::native == std::endian::little) {
        return samples;
    }
    scratch.resize(2 * count);
    for (std::size_t i = 0; i < count; ++i) {
        PutLe(&scratch[2 * i], static_cast<std::uint16_t>(samples[i]), 2);
    }
    return scratch.data();
}

}  // namespace

std::string WriteLoop(int fd, const std::int16_t* samples, std::size_t count, unsigned sampleRate,
                      unsigned repeat, bool raw)
{
    if (!raw) {
        const auto header =
            WavHeader(sampleRate, static_cast<std::uint32_t>(2 * count * std::size_t{repeat}));
        if (std::string error = WriteAll(fd, header.data(), header.size()); !error.empty()) {
            return error;
        }
    }
    std::vector<unsigned char> scratch;
    const void* bytes = LittleEndian(samples, count, scratch);
    for (unsigned pass = 0; pass < repeat; ++pass) {
        if (std::string error = WriteAll(fd, bytes, 2 * count); !error.empty()) {
            return error;
        }
    }
    return {};
}

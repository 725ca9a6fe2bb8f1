#include "LoopWriter.h"

#include <sys/uio.h>
#include <unistd.h>

#include <array>
#include <bit>
#include <cerrno>
#include <cstring>
#include <vector>

namespace {

// Writes the pieces in order, as few writes as the descriptor takes: a
// reader of a pipe that sniffs the first bytes sees the header and samples
// together.
std::string WriteAll(int fd, std::array<iovec, 2> pieces)
{
    std::size_t first = 0;
    while (first < pieces.size()) {
        const ssize_t written = writev(fd, &pieces[first], static_cast<int>(pieces.size() - first));
        if (written < 0 && errno == EINTR) {
            continue;
        }
        if (written <= 0) {
            return std::strerror(errno);
        }
        auto left = static_cast<std::size_t>(written);
        while (first < pieces.size() && left >= pieces[first].iov_len) {
            left -= pieces[first++].iov_len;
        }
        if (first < pieces.size()) {
            pieces[first].iov_base = static_cast<char*>(pieces[first].iov_base) + left;
            pieces[first].iov_len -= left;
        }
    }
    return {};
}

void PutLe(unsigned char* at, std::uint32_t value, int bytes)
{
    for (int i = 0; i < bytes; ++i) {
        at[i] = static_cast<unsigned char>(value >> (8 * i));
    }
}

// The canonical 44-byte header of 16-bit PCM.
std::array<unsigned char, 44> WavHeader(unsigned sampleRate, unsigned channels,
                                        std::uint32_t dataBytes)
{
    std::array<unsigned char, 44> h{};
    std::memcpy(&h[0], "RIFF", 4);
    PutLe(&h[4], 36 + dataBytes, 4);
    std::memcpy(&h[8], "WAVEfmt ", 8);
    PutLe(&h[16], 16, 4);  // fmt chunk size
    PutLe(&h[20], 1, 2);   // PCM
    PutLe(&h[22], channels, 2);
    PutLe(&h[24], sampleRate, 4);                 // frames per second
    PutLe(&h[28], 2 * channels * sampleRate, 4);  // bytes per second
    PutLe(&h[32], 2 * channels, 2);               // block align
    PutLe(&h[34], 16, 2);                         // bits per sample
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
                      unsigned repeat, bool raw, unsigned channels)
{
    auto header = WavHeader(sampleRate, channels,
                            static_cast<std::uint32_t>(2 * count * std::size_t{repeat}));
    std::vector<unsigned char> scratch;
    void* bytes = const_cast<void*>(LittleEndian(samples, count, scratch));
    for (unsigned pass = 0; pass < repeat; ++pass) {
        const std::size_t headerBytes = pass == 0 && !raw ? header.size() : 0;
        if (std::string error = WriteAll(fd, {{{header.data(), headerBytes}, {bytes, 2 * count}}});
            !error.empty()) {
            return error;
        }
    }
    return {};
}

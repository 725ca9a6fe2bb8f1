#include "LoopFileWriter.h"

#include <sndfile.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

std::string WriteRaw(int fd, const std::int16_t* samples, std::size_t count, unsigned repeat)
{
    std::vector<unsigned char> bytes(count * 2);
    for (std::size_t i = 0; i < count; ++i) {
        const auto value = static_cast<std::uint16_t>(samples[i]);
        bytes[2 * i] = static_cast<unsigned char>(value & 0xFF);
        bytes[2 * i + 1] = static_cast<unsigned char>(value >> 8);
    }
    for (unsigned pass = 0; pass < repeat; ++pass) {
        std::size_t done = 0;
        while (done < bytes.size()) {
            const ssize_t written = write(fd, bytes.data() + done, bytes.size() - done);
            if (written < 0 && errno == EINTR) {
                continue;
            }
            if (written <= 0) {
                return std::strerror(errno);
            }
            done += static_cast<std::size_t>(written);
        }
    }
    return {};
}

std::string WriteWav(int fd, const std::int16_t* samples, std::size_t count, unsigned sampleRate,
                     unsigned repeat)
{
    SF_INFO info{};
    info.samplerate = static_cast<int>(sampleRate);
    info.channels = 1;
    info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
    SNDFILE* file = sf_open_fd(fd, SFM_WRITE, &info, SF_FALSE);
    if (file == nullptr) {
        return sf_strerror(nullptr);
    }
    std::string error;
    for (unsigned pass = 0; pass < repeat && error.empty(); ++pass) {
        if (sf_write_short(file, samples, static_cast<sf_count_t>(count)) !=
            static_cast<sf_count_t>(count)) {
            error = sf_strerror(file);
        }
    }
    if (sf_close(file) != 0 && error.empty()) {
        error = "cannot finish the WAV file";
    }
    return error;
}

std::string CopyToStdout(int fd)
{
    if (lseek(fd, 0, SEEK_SET) != 0) {
        return std::strerror(errno);
    }
    char chunk[65536];
    for (;;) {
        const ssize_t got = read(fd, chunk, sizeof chunk);
        if (got == 0) {
            return {};
        }
        if (got < 0) {
            return std::strerror(errno);
        }
        if (std::fwrite(chunk, 1, static_cast<std::size_t>(got), stdout) !=
            static_cast<std::size_t>(got)) {
            return "cannot write to stdout";
        }
    }
}

}  // namespace

std::string WriteLoopFile(const std::string& path, const std::int16_t* samples, std::size_t count,
                          unsigned sampleRate, unsigned repeat, bool raw)
{
    const bool toStdout = path == "-";
    const char* tmpdir = std::getenv("TMPDIR");
    std::string temporary =
        toStdout ? std::string(tmpdir != nullptr ? tmpdir : "/tmp") + "/wavegen-render-XXXXXX"
                 : path + ".XXXXXX";
    const int fd = mkstemp(temporary.data());
    if (fd < 0) {
        return std::strerror(errno);
    }
    const mode_t mask = umask(0);
    umask(mask);
    fchmod(fd, 0666 & ~mask);  // as an ordinary new file, not mkstemp's 0600
    std::string error = raw ? WriteRaw(fd, samples, count, repeat)
                            : WriteWav(fd, samples, count, sampleRate, repeat);
    if (error.empty() && toStdout) {
        error = CopyToStdout(fd);
        if (error.empty() && std::fflush(stdout) != 0) {
            error = "cannot write to stdout";
        }
    }
    if (close(fd) != 0 && error.empty()) {
        error = std::strerror(errno);
    }
    if (error.empty() && !toStdout && std::rename(temporary.c_str(), path.c_str()) != 0) {
        error = std::strerror(errno);
    }
    if (toStdout || !error.empty()) {
        unlink(temporary.c_str());
    }
    return error;
}

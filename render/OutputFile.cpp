#include "OutputFile.h"

#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace {

constexpr int kMostLinks = 40;  // as the kernel's own limit on a path's links

// Follows symbolic links to the path they finally name, which need not
// exist yet. Returns false (and errno) on a loop or an unreadable link.
bool ResolveLinks(std::string& path)
{
    for (int hops = 0; hops < kMostLinks; ++hops) {
        struct stat status {};
        if (lstat(path.c_str(), &status) != 0 || !S_ISLNK(status.st_mode)) {
            return true;
        }
        char target[PATH_MAX];
        const ssize_t length = readlink(path.c_str(), target, sizeof target);
        if (length < 0 || static_cast<std::size_t>(length) == sizeof target) {
            return false;
        }
        std::string next(target, static_cast<std::size_t>(length));
        if (next.front() != '/') {
            const std::size_t slash = path.rfind('/');
            next = (slash == std::string::npos ? "" : path.substr(0, slash + 1)) + next;
        }
        path = next;
    }
    errno = ELOOP;
    return false;
}

}  // namespace

OutputFile::~OutputFile()
{
    Discard();
}

std::string OutputFile::Open(const std::string& path)
{
    if (path == "-") {
        m_fd = STDOUT_FILENO;
        return {};
    }
    struct stat status {};
    const bool exists = stat(path.c_str(), &status) == 0;
    if (!exists && errno != ENOENT) {
        return std::strerror(errno);
    }
    if (exists && !S_ISREG(status.st_mode)) {
        m_fd = open(path.c_str(), O_WRONLY | O_CLOEXEC | O_NOCTTY);
        m_ownsDescriptor = m_fd >= 0;
        return m_fd >= 0 ? std::string() : std::strerror(errno);
    }
    std::string target = path;
    if (!ResolveLinks(target)) {
        return std::strerror(errno);
    }
    return OpenReplacement(target, exists, status.st_mode & 07777);
}

std::string OutputFile::OpenReplacement(const std::string& target, bool exists, unsigned mode)
{
    std::string temporary = target + ".XXXXXX";
    m_fd = mkostemp(temporary.data(), O_CLOEXEC);
    if (m_fd < 0) {
        return std::strerror(errno);
    }
    m_ownsDescriptor = true;
    m_temporary = temporary;
    m_target = target;
    if (!exists) {
        const mode_t mask = umask(0);
        umask(mask);
        mode = 0666 & ~mask;  // as an ordinary new file, not mkstemp's 0600
    }
    if (fchmod(m_fd, mode) != 0) {
        return std::strerror(errno);
    }
    return {};
}

std::string OutputFile::Commit()
{
    std::string error;
    if (m_ownsDescriptor && close(m_fd) != 0) {
        error = std::strerror(errno);
    }
    m_ownsDescriptor = false;
    m_fd = -1;
    if (error.empty() && !m_temporary.empty() &&
        std::rename(m_temporary.c_str(), m_target.c_str()) != 0) {
        error = std::strerror(errno);
    }
    if (error.empty()) {
        m_temporary.clear();
    }
    Discard();
    return error;
}

void OutputFile::Discard()
{
    if (m_ownsDescriptor) {
        close(m_fd);
        m_ownsDescriptor = false;
    }
    if (!m_temporary.empty()) {
        unlink(m_temporary.c_str());
        m_temporary.clear();
    }
}

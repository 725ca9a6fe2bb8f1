#include "OutputFile.h"

#include <fcntl.h>
#include <limits.h>
#include <sys/random.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "InterruptHandler.h"

namespace {

constexpr int kMostLinks = 40;     // as the kernel's own limit on a path's links
constexpr int kNameAttempts = 32;  // temporary names tried before giving up

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

std::string FolderOf(const std::string& path)
{
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
}

// A short hidden name in the folder, new each call.
std::string TemporaryName(const std::string& folder)
{
    unsigned long long random = 0;
    if (getrandom(&random, sizeof random, 0) != static_cast<ssize_t>(sizeof random)) {
        random ^= static_cast<unsigned long long>(getpid()) << 20 ^
                  static_cast<unsigned long long>(clock());
    }
    char name[32];
    std::snprintf(name, sizeof name, "/.wavegen-%012llx", random & 0xFFFFFFFFFFFFull);
    return folder + name;
}

// The tool's open descriptor (standard output first, then error, then any
// other one it inherited) that is the same file as `status`, when it is
// open for writing; -1 for none. "-o /dev/stdout >> log" then appends to the
// log as the shell opened it, instead of replacing the log's file.
int OpenDescriptorOf(const struct stat& status)
{
    constexpr int kMostInherited = 1024;
    for (int i = 0; i < kMostInherited; ++i) {
        const int fd = i == 0 ? STDOUT_FILENO : i == 1 ? STDERR_FILENO : i == 2 ? STDIN_FILENO : i;
        struct stat open {};
        const int flags = fcntl(fd, F_GETFL);
        if (flags >= 0 && (flags & O_ACCMODE) != O_RDONLY && fstat(fd, &open) == 0 &&
            open.st_dev == status.st_dev && open.st_ino == status.st_ino) {
            return fd;
        }
    }
    return -1;
}

// True when the file carries extended attributes (an ACL is one), which a
// new file would not have.
bool HasExtendedAttributes(int fd)
{
    const ssize_t size = flistxattr(fd, nullptr, 0);
    return size > 0 || (size < 0 && errno != ENOTSUP);
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
    if (exists) {
        if (const int fd = OpenDescriptorOf(status); fd >= 0) {
            m_fd = fd;  // written through, as "-" is
            return {};
        }
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
    return OpenRegular(target);
}

std::string OutputFile::OpenRegular(const std::string& target)
{
    m_target = target;
    m_folder = FolderOf(target);
    struct stat status {};
    if (stat(target.c_str(), &status) != 0) {
        // A new file: the folder must take it, as it must for ">".
        return OpenReplacement(nullptr) ? std::string() : std::strerror(errno);
    }
    // May the user write it at all? Opening without truncating changes nothing.
    const int inPlace = open(target.c_str(), O_WRONLY | O_CLOEXEC | O_NOCTTY);
    if (inPlace < 0) {
        return std::strerror(errno);
    }
    if (status.st_nlink == 1 && !HasExtendedAttributes(inPlace) && OpenReplacement(&status)) {
        close(inPlace);
        return {};
    }
    if (ftruncate(inPlace, 0) != 0) {
        const int error = errno;
        close(inPlace);
        return std::strerror(error);
    }
    m_fd = inPlace;
    m_ownsDescriptor = true;
    return {};
}

// Makes the new file, with the existing file's owner, group and mode; false
// (and errno) when it cannot be made or cannot take them.
bool OutputFile::OpenReplacement(const struct stat* existing)
{
    // An unnamed file can be linked through /proc, or, without it, by a
    // caller who may link any descriptor (root); otherwise it gets a name.
    const bool linkable = access("/proc/self/fd", F_OK) == 0 || geteuid() == 0;
    m_fd = linkable ? open(m_folder.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666) : -1;
    if (!linkable || (m_fd < 0 && (errno == EOPNOTSUPP || errno == EISDIR || errno == EINVAL))) {
        if (!OpenNamedReplacement()) {  // a file system without unnamed files
            return false;
        }
    }
    if (m_fd < 0) {
        return false;
    }
    m_ownsDescriptor = true;
    m_replacing = true;
    if (existing != nullptr && (fchown(m_fd, existing->st_uid, existing->st_gid) != 0 ||
                                fchmod(m_fd, existing->st_mode & 07777) != 0)) {
        const int error = errno;
        Discard();
        errno = error;
        return false;
    }
    return true;
}

bool OutputFile::OpenNamedReplacement()
{
    for (int attempt = 0; attempt < kNameAttempts && m_fd < 0; ++attempt) {
        const std::string name = TemporaryName(m_folder);
        InterruptHandler::RemoveOnSignal(name.c_str());
        m_fd = open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (m_fd >= 0) {
            m_named = name;
        } else if (errno != EEXIST) {
            break;
        }
    }
    if (m_named.empty()) {
        InterruptHandler::RemoveOnSignal(nullptr);
    }
    return m_fd >= 0;
}

std::string OutputFile::Commit()
{
    std::string error;
    if (m_replacing && fsync(m_fd) != 0) {
        error = std::strerror(errno);
    }
    if (error.empty() && m_replacing) {
        error = LinkAndRename();
    }
    if (m_ownsDescriptor && close(m_fd) != 0 && error.empty()) {
        error = std::strerror(errno);
    }
    m_ownsDescriptor = false;
    m_fd = -1;
    Discard();
    return error;
}

// Gives the new file a short name of its own beside the target (an unnamed
// file has none yet), then renames it over the target.
std::string OutputFile::LinkAndRename()
{
    const std::string self = "/proc/self/fd/" + std::to_string(m_fd);
    for (int attempt = 0; attempt < kNameAttempts && m_named.empty(); ++attempt) {
        const std::string name = TemporaryName(m_folder);
        InterruptHandler::RemoveOnSignal(name.c_str());
        // Without /proc (a chroot, a container), the descriptor itself.
        if (linkat(AT_FDCWD, self.c_str(), AT_FDCWD, name.c_str(), AT_SYMLINK_FOLLOW) == 0 ||
            (errno == ENOENT && linkat(m_fd, "", AT_FDCWD, name.c_str(), AT_EMPTY_PATH) == 0)) {
            m_named = name;
        } else if (errno != EEXIST) {
            InterruptHandler::RemoveOnSignal(nullptr);
            return std::strerror(errno);
        }
    }
    if (m_named.empty() || std::rename(m_named.c_str(), m_target.c_str()) != 0) {
        return std::strerror(m_named.empty() ? EEXIST : errno);
    }
    InterruptHandler::RemoveOnSignal(nullptr);
    m_named.clear();
    m_replacing = false;
    return SyncFolder();
}

// The new name is durable once the folder is synced too.
std::string OutputFile::SyncFolder() const
{
    const int folder = open(m_folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder < 0) {
        return std::strerror(errno);
    }
    // (A file system that cannot sync a folder says EINVAL: nothing to do.)
    const bool synced = fsync(folder) == 0 || errno == EINVAL;
    const int error = errno;
    close(folder);
    return synced ? std::string() : std::strerror(error);
}

void OutputFile::Discard()
{
    if (m_ownsDescriptor) {
        close(m_fd);
        m_ownsDescriptor = false;
        m_fd = -1;
    }
    if (!m_named.empty()) {
        unlink(m_named.c_str());
        InterruptHandler::RemoveOnSignal(nullptr);
        m_named.clear();
    }
    m_replacing = false;
}

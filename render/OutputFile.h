#pragma once

#include <sys/stat.h>

#include <string>

// Where wavegen-render writes its output, opened as the shell's ">" would
// open it, but atomically where that changes nothing else:
//  - "-", or a path that is the same file as the tool's standard output
//    or error (/dev/stdout, /dev/fd/2, or the file they were redirected
//    to): that descriptor, written straight through at its position;
//  - anything but a regular file (a named pipe, a device, a socket): opened
//    and written in place;
//  - a regular file (a symbolic link is followed, and stays a link) that the
//    user may not open for writing: refused, untouched;
//  - a new path, or a file the user may write that has a single link, no
//    extended attributes (an ACL is one) and whose owner, group and mode
//    the new file can take: written as an
//    unnamed file in the same folder, given the old file's identity, synced,
//    and renamed into place on Commit, so an interrupted or failed run (even
//    kill -9) leaves the old file whole and nothing beside it;
//  - any other file the user may write (hard links, a folder the user may
//    not write, an owner the user cannot give): truncated and written in
//    place, as ">" does.
class OutputFile {
public:
    OutputFile() = default;
    ~OutputFile();
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    // Returns an empty string, or why the path cannot be written.
    std::string Open(const std::string& path);
    int Descriptor() const { return m_fd; }
    // Closes the output and puts a new file into place. Returns an empty
    // string, or why that failed (the new file is then gone).
    std::string Commit();

private:
    std::string OpenRegular(const std::string& target);
    bool OpenReplacement(const struct stat* existing);
    bool OpenNamedReplacement();
    std::string LinkAndRename();
    std::string SyncFolder() const;
    void Discard();

    int m_fd = -1;
    bool m_ownsDescriptor = false;
    bool m_replacing = false;  // m_fd is a new file that is to take m_target's place
    std::string m_target;
    std::string m_folder;
    std::string m_named;  // the new file's temporary name, while it has one
};

#pragma once

#include <string>

// Where wavegen-render writes its output, chosen by what the path is:
//  - "-": standard output, written straight through;
//  - a named pipe, a device, a socket (anything but a regular file): opened
//    and written in place, never replaced;
//  - a regular file or a new path (a symbolic link is followed to the file
//    it names, and stays a link): written under a temporary name in the same
//    folder and renamed into place on Commit, so a failed write leaves the
//    old file whole; a replaced file keeps its permission bits.
class OutputFile {
public:
    OutputFile() = default;
    ~OutputFile();
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    // Returns an empty string, or why the path cannot be written.
    std::string Open(const std::string& path);
    int Descriptor() const { return m_fd; }
    // Closes the output and puts a temporary file into place. Returns an
    // empty string, or why that failed (the temporary file is then gone).
    std::string Commit();

private:
    std::string OpenReplacement(const std::string& target, bool exists, unsigned mode);
    void Discard();

    int m_fd = -1;
    bool m_ownsDescriptor = false;
    std::string m_temporary;  // empty when written in place
    std::string m_target;
};

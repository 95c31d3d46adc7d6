#pragma once

#include "base/filedescriptor.h"

#include <string>
#include <sys/types.h>

// A calculation's standard output and error as they come, in a file of its run that keeps the
// last MiB: a calculation that prints without end neither fills the disk nor leaves a file
// too long to read.
class COutputFile {
public:
    static constexpr off_t kKeptBytes = off_t(1) << 20;

    // Created, or emptied, readable by the group as the data folder is.
    explicit COutputFile(const std::string& path);

    bool IsOpen() const { return m_fd.IsValid(); }
    void Append(const char* data, size_t size);
    // The file cut to its last kKeptBytes.
    void Finish();

private:
    void KeepTail();

    CFileDescriptor m_fd;
    off_t m_size = 0;
};

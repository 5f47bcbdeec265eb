#pragma once

#include <string>

namespace pagewren {

// An exclusive lock between processes, held on a lock file for the object's lifetime. The system
// drops it when the holder dies, so a killed process never leaves a stale lock.
class FileLock {
public:
    // Waits until the lock on path (created when missing) is ours.
    explicit FileLock(const std::string& path);
    ~FileLock();
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;

    // False when the lock file could not be opened or locked.
    bool locked() const { return m_fd >= 0; }

private:
    int m_fd = -1;
};

} // namespace pagewren

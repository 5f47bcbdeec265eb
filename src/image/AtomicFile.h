#pragma once

#include <cstdio>
#include <string>

namespace pagewren {

// A file written under a temporary name in its target's folder and renamed to the target only
// when complete, so that the target is never seen half written. Internal to the image layer.
class AtomicFile {
public:
    // Creates the temporary file. Throws Error naming the target when that is not possible.
    explicit AtomicFile(std::string target);
    // Removes the temporary file unless commit() succeeded.
    ~AtomicFile();
    AtomicFile(const AtomicFile&) = delete;
    AtomicFile& operator=(const AtomicFile&) = delete;

    std::FILE* file() const { return m_file; }

    // Flushes and closes the file (and with durable, waits until it is on the disk), then renames
    // it to the target, replacing an existing file. Throws Error when any step fails.
    void commit(bool durable);

private:
    std::string m_target;
    std::string m_temporary;
    std::FILE* m_file = nullptr;
    bool m_committed = false;
};

} // namespace pagewren

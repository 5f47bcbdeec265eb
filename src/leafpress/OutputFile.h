#pragma once

#include <cstddef>
#include <cstdio>
#include <filesystem>
#include <string>

namespace pagewren::leafpress {

// A file written under a temporary name in its target's folder and renamed over the target by
// commit(), so readers never see a partial file and a failed write leaves an existing file
// untouched. Without commit() the temporary file is removed. Failures throw LeafpressError
// (the output cannot be created).
class OutputFile {
public:
    explicit OutputFile(const std::string& path);
    ~OutputFile();
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    void write(const void* data, std::size_t size);
    // Flushes the data to the disk and puts the file in place.
    void commit();

    const std::filesystem::path& temporaryPath() const { return m_temporary; }

private:
    [[noreturn]] void fail(int error) const;

    std::string m_path;
    std::filesystem::path m_target;
    std::filesystem::path m_temporary;
    std::FILE* m_file = nullptr;
    bool m_committed = false;
};

} // namespace pagewren::leafpress

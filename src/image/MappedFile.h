#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace pagewren {

// The whole content of a regular file, read-only, mapped into memory where the system allows it
// so that decoders read straight from the page cache. Internal to the image layer.
class MappedFile {
public:
    // Throws Error naming the file when it is missing, not a regular file or unreadable.
    explicit MappedFile(const std::string& path);
    ~MappedFile();
    MappedFile(const MappedFile&) = delete;
    MappedFile& operator=(const MappedFile&) = delete;

    std::span<const std::uint8_t> bytes() const { return {m_data, m_size}; }

private:
    const std::uint8_t* m_data = nullptr;
    std::size_t m_size = 0;
    void* m_mapping = nullptr;
    std::vector<std::uint8_t> m_copy; // where mapping is not available
};

} // namespace pagewren

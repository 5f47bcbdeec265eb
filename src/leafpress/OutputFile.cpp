#include "leafpress/OutputFile.h"

#include "leafpress/LeafpressError.h"
#include "leafpress/Message.h"

#include <cerrno>
#include <cstring>
#include <random>
#include <system_error>
#include <utility>

#if defined(_WIN32)
#include <io.h>
#else
#include <fcntl.h>
#include <unistd.h>
#endif

namespace pagewren::leafpress {

namespace fs = std::filesystem;

namespace {

constexpr int attempts = 100;
constexpr std::size_t nameKeep = 64;

int syncFile(std::FILE* file)
{
#if defined(_WIN32)
    return _commit(_fileno(file));
#else
    return ::fsync(::fileno(file));
#endif
}

// Makes the rename itself survive a crash; best effort, as not every file system allows it.
void syncFolder([[maybe_unused]] const fs::path& folder)
{
#if !defined(_WIN32)
    const int fd =
        ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
#endif
}

} // namespace

OutputFile::OutputFile(const std::string& path) : m_path(path), m_target(path)
{
    std::error_code error;
    if (path.empty())
        fail(ENOENT);
    if (fs::is_directory(m_target, error))
        fail(EISDIR);
    // Hidden, and named after the target so a leftover after a crash explains itself; only the
    // start of a long name, so that the temporary name is not too long where the target is not.
    const std::string stem =
        "." + std::string(cutText(m_target.filename().string(), nameKeep)) + ".";
    std::random_device entropy;
    std::uniform_int_distribution<unsigned> digit(0, 35);
    const char* symbols = "0123456789abcdefghijklmnopqrstuvwxyz";
    for (int attempt = 0; attempt < attempts; ++attempt) {
        std::string name = stem;
        for (int i = 0; i < 8; ++i)
            name += symbols[digit(entropy)];
        m_temporary = m_target.parent_path() / (name + ".tmp");
        errno = 0;
        // "x": never reuse or follow an existing name.
        m_file = std::fopen(m_temporary.string().c_str(), "wbx");
        if (m_file)
            return;
        if (errno != EEXIST)
            break;
    }
    const int cause = errno ? errno : EEXIST;
    m_temporary.clear();
    fail(cause);
}

OutputFile::~OutputFile()
{
    if (m_file)
        std::fclose(m_file);
    if (!m_committed && !m_temporary.empty()) {
        std::error_code ignored;
        fs::remove(m_temporary, ignored);
    }
}

void OutputFile::fail(int error) const
{
    throw LeafpressError::forOutput(m_path, std::strerror(error));
}

void OutputFile::write(const void* data, std::size_t size)
{
    errno = 0;
    if (std::fwrite(data, 1, size, m_file) != size)
        fail(errno ? errno : EIO);
}

void OutputFile::commit()
{
    errno = 0;
    if (std::fflush(m_file) != 0 || syncFile(m_file) != 0)
        fail(errno ? errno : EIO);
    std::FILE* file = std::exchange(m_file, nullptr);
    errno = 0;
    if (std::fclose(file) != 0)
        fail(errno ? errno : EIO);
    std::error_code error;
    fs::rename(m_temporary, m_target, error);
    if (error)
        fail(error.value());
    m_committed = true;
    syncFolder(m_target.parent_path());
}

} // namespace pagewren::leafpress

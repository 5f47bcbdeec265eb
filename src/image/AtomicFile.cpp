#include "image/AtomicFile.h"

#include "util/Error.h"

#include <array>
#include <cerrno>
#include <filesystem>
#include <random>
#include <system_error>
#include <utility>

#ifndef _WIN32
#include <fcntl.h>
#include <unistd.h>
#endif

namespace pagewren {

namespace {

std::string randomSuffix()
{
    static constexpr std::array<char, 36> kLetters = {
        'a', 'b', 'c', 'd', 'e', 'f', 'g', 'h', 'i', 'j', 'k', 'l', 'm', 'n', 'o', 'p', 'q', 'r',
        's', 't', 'u', 'v', 'w', 'x', 'y', 'z', '0', '1', '2', '3', '4', '5', '6', '7', '8', '9'};
    thread_local std::mt19937 generator{std::random_device{}()};
    std::uniform_int_distribution<std::size_t> pick(0, kLetters.size() - 1);
    std::string suffix(8, ' ');
    for (char& c : suffix)
        c = kLetters[pick(generator)];
    return suffix;
}

std::string systemMessage(int error)
{
    return std::generic_category().message(error);
}

} // namespace

AtomicFile::AtomicFile(std::string target) : m_target(std::move(target))
{
    // The temporary name keeps the target's folder (rename stays within one file system) and does
    // not end in the target's extension, so nobody listing "*.tif" picks it up half written.
    int error = 0;
    for (int attempt = 0; attempt < 100 && !m_file; ++attempt) {
        m_temporary = m_target + "." + randomSuffix() + ".tmp";
        // "x": fail rather than reuse a file that exists.
        m_file = std::fopen(m_temporary.c_str(), "wbx");
        error = errno;
        if (!m_file && error != EEXIST)
            break;
    }
    if (!m_file)
        throw Error("Cannot create " + m_target + ": " + systemMessage(error));
}

AtomicFile::~AtomicFile()
{
    if (m_file)
        std::fclose(m_file);
    if (!m_committed) {
        std::error_code ignored;
        std::filesystem::remove(m_temporary, ignored);
    }
}

void AtomicFile::commit(bool durable)
{
    bool written = std::fflush(m_file) == 0;
    int error = errno;
#ifndef _WIN32
    if (written && durable) {
        written = ::fsync(::fileno(m_file)) == 0;
        error = errno;
    }
#endif
    const bool closed = std::fclose(m_file) == 0;
    if (written && !closed)
        error = errno;
    m_file = nullptr;
    if (!written || !closed)
        throw Error("Cannot write " + m_target + ": " + systemMessage(error));
    std::error_code renameError;
    std::filesystem::rename(m_temporary, m_target, renameError);
    if (renameError)
        throw Error("Cannot write " + m_target + ": " + renameError.message());
    m_committed = true;
#ifndef _WIN32
    if (durable) {
        // The new name itself must reach the disk too.
        const std::string folder = std::filesystem::path(m_target).parent_path().string();
        const int fd = ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd >= 0) {
            ::fsync(fd);
            ::close(fd);
        }
    }
#endif
}

} // namespace pagewren

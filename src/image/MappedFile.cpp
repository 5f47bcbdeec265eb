#include "image/MappedFile.h"

#include "util/Error.h"

#include <cerrno>
#include <system_error>

#ifdef _WIN32
#include <fstream>
#include <iterator>
#else
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace pagewren {

namespace {

std::string systemMessage(int error)
{
    return std::generic_category().message(error);
}

} // namespace

#ifdef _WIN32

MappedFile::MappedFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        throw Error("Cannot open " + path);
    m_copy.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    if (in.bad())
        throw Error("Cannot read " + path);
    m_data = m_copy.data();
    m_size = m_copy.size();
}

MappedFile::~MappedFile() = default;

#else

MappedFile::MappedFile(const std::string& path)
{
    // Non-blocking so that a FIFO in place of an image cannot make us wait for a writer.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        throw Error("Cannot open " + path + ": " + systemMessage(errno));
    struct stat info {};
    if (::fstat(fd, &info) != 0) {
        const int error = errno;
        ::close(fd);
        throw Error("Cannot read " + path + ": " + systemMessage(error));
    }
    if (!S_ISREG(info.st_mode)) {
        ::close(fd);
        throw Error("Cannot read " + path + ": not a regular file");
    }
    m_size = static_cast<std::size_t>(info.st_size);
    if (m_size > 0) {
        void* mapping = ::mmap(nullptr, m_size, PROT_READ, MAP_PRIVATE, fd, 0);
        if (mapping == MAP_FAILED) {
            // Some file systems cannot map: read the file instead.
            m_copy.resize(m_size);
            std::size_t done = 0;
            while (done < m_size) {
                const ssize_t n =
                    ::pread(fd, m_copy.data() + done, m_size - done, static_cast<off_t>(done));
                if (n < 0 && errno == EINTR)
                    continue;
                if (n <= 0) {
                    const int error = n < 0 ? errno : EIO;
                    ::close(fd);
                    throw Error("Cannot read " + path + ": " + systemMessage(error));
                }
                done += static_cast<std::size_t>(n);
            }
            m_data = m_copy.data();
        } else {
            m_mapping = mapping;
            m_data = static_cast<const std::uint8_t*>(mapping);
        }
    }
    ::close(fd);
}

MappedFile::~MappedFile()
{
    if (m_mapping)
        ::munmap(m_mapping, m_size);
}

#endif

} // namespace pagewren

#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace pagewren::leafpress {

// Bytes a message may take in the caller's buffer, its NUL included.
inline constexpr std::size_t messageCapacity = 300;

// Copies `first` then `second` into `buffer` as one NUL-terminated text of at most
// messageCapacity bytes, cut at a character boundary. Writes nothing past the NUL and allocates
// nothing, so it is safe while handling an out-of-memory failure.
void writeMessage(char* buffer, std::string_view first, std::string_view second = {}) noexcept;

// `text` cut to at most `limit` bytes without splitting a UTF-8 sequence.
std::string_view cutText(std::string_view text, std::size_t limit) noexcept;

// `path` shortened to at most `limit` bytes by replacing its middle with "...".
std::string shortenPath(std::string_view path, std::size_t limit);

} // namespace pagewren::leafpress

#include "leafpress/Message.h"

#include <cstring>

namespace pagewren::leafpress {

namespace {

bool isContinuationByte(char c)
{
    return (static_cast<unsigned char>(c) & 0xC0) == 0x80;
}

} // namespace

std::string_view cutText(std::string_view text, std::size_t limit) noexcept
{
    if (text.size() <= limit)
        return text;
    std::size_t end = limit;
    while (end > 0 && isContinuationByte(text[end]))
        --end;
    return text.substr(0, end);
}

void writeMessage(char* buffer, std::string_view first, std::string_view second) noexcept
{
    if (!buffer)
        return;
    const std::size_t room = messageCapacity - 1;
    const std::string_view head = cutText(first, room);
    const std::string_view tail =
        head.size() < first.size() ? std::string_view() : cutText(second, room - head.size());
    // An empty view may hold a null pointer, which memcpy must not see.
    if (!head.empty())
        std::memcpy(buffer, head.data(), head.size());
    if (!tail.empty())
        std::memcpy(buffer + head.size(), tail.data(), tail.size());
    buffer[head.size() + tail.size()] = '\0';
}

std::string shortenPath(std::string_view path, std::size_t limit)
{
    if (path.size() <= limit)
        return std::string(path);
    const std::string_view ellipsis = "...";
    if (limit <= ellipsis.size())
        return std::string(cutText(ellipsis, limit));
    // Keep more of the end: the file name tells the user most.
    const std::size_t keep = limit - ellipsis.size();
    const std::string_view head = cutText(path, keep / 3);
    std::size_t tailStart = path.size() - (keep - head.size());
    while (tailStart < path.size() && isContinuationByte(path[tailStart]))
        ++tailStart;
    std::string shortened(head);
    shortened += ellipsis;
    shortened += path.substr(tailStart);
    return shortened;
}

} // namespace pagewren::leafpress

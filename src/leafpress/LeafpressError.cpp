#include "leafpress/LeafpressError.h"

#include "leafpress/Message.h"

namespace pagewren::leafpress {

LeafpressError LeafpressError::forImage(std::string_view path, std::string_view reason)
{
    const std::string_view separator = ": ";
    const std::size_t room = messageCapacity - 1;
    const std::size_t fixed = separator.size() + reason.size();
    std::string message = shortenPath(path, room > fixed ? room - fixed : 0);
    message += separator;
    message += reason;
    return LeafpressError(ResultCode::ImageFailed, message);
}

} // namespace pagewren::leafpress

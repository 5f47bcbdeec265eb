#include "leafpress/LeafpressError.h"

#include "leafpress/Message.h"

namespace pagewren::leafpress {

LeafpressError LeafpressError::aboutFile(ResultCode code, std::string_view lead,
                                         std::string_view path, std::string_view reason)
{
    const std::string_view separator = ": ";
    const std::size_t room = messageCapacity - 1;
    const std::size_t fixed = lead.size() + separator.size() + reason.size();
    std::string message(lead);
    message += shortenPath(path, room > fixed ? room - fixed : 0);
    message += separator;
    message += reason;
    return LeafpressError(code, message);
}

LeafpressError LeafpressError::forImage(std::string_view path, std::string_view reason)
{
    return aboutFile(ResultCode::ImageFailed, "", path, reason);
}

LeafpressError LeafpressError::forOutput(std::string_view path, std::string_view reason)
{
    return aboutFile(ResultCode::OutputFailed, "Cannot create the PDF ", path, reason);
}

} // namespace pagewren::leafpress

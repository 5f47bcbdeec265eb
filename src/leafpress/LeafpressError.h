#pragma once

#include <stdexcept>
#include <string>
#include <string_view>

namespace pagewren::leafpress {

// What went wrong, as the C interface reports it.
enum class ResultCode : int {
    Success = 0,
    InvalidParameter = 1,
    OutputFailed = 2,
    ImageFailed = 3,
    InternalError = 4,
};

// A failure of the library carrying its result code and the message for the caller.
class LeafpressError : public std::runtime_error {
public:
    LeafpressError(ResultCode code, const std::string& message)
        : std::runtime_error(message), m_code(code)
    {
    }

    // A problem with one image: "path: reason".
    static LeafpressError forImage(std::string_view path, std::string_view reason);
    // The PDF cannot be written: "Cannot create the PDF path: reason".
    static LeafpressError forOutput(std::string_view path, std::string_view reason);

    ResultCode code() const { return m_code; }

private:
    // The path is shortened in the middle when the message would not fit the caller's buffer,
    // so the file name and the reason stay readable.
    static LeafpressError aboutFile(ResultCode code, std::string_view lead, std::string_view path,
                                    std::string_view reason);

    ResultCode m_code;
};

} // namespace pagewren::leafpress

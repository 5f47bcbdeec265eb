#pragma once

#include "leafpress/LeafpressError.h"
#include "leafpress/Message.h"

#include <exception>

namespace pagewren::leafpress {

// Runs `body` for one call of the C interface: returns 0 when it finishes, otherwise the result
// code of what it threw, with its message written to `message` when that is not null. No
// exception leaves: the caller may not be C++ at all.
template <typename Body>
int callResult(char* message, Body&& body) noexcept
{
    try {
        body();
        return static_cast<int>(ResultCode::Success);
    } catch (const LeafpressError& error) {
        writeMessage(message, error.what());
        return static_cast<int>(error.code());
    } catch (const std::exception& error) {
        writeMessage(message, "Internal error: ", error.what());
    } catch (...) {
        writeMessage(message, "Internal error");
    }
    return static_cast<int>(ResultCode::InternalError);
}

} // namespace pagewren::leafpress

#pragma once

#include "util/Error.h"

#include <cstdint>
#include <string>

namespace pagewren {

// A scanner operation that failed, named the way TWAIN names it: the data group, argument type,
// capability and message of the operation, and the return and condition codes. what() is the
// driver's own description ("Document feeder jammed"), empty when it has none.
class ScanFailure : public Error {
public:
    ScanFailure(std::uint32_t dg, std::uint16_t dat, std::uint16_t msg, int errorCode, int status,
                const std::string& message, std::uint16_t cap = 0)
        : Error(message), m_dg(dg), m_dat(dat), m_cap(cap), m_msg(msg), m_error(errorCode),
          m_status(status)
    {
    }

    std::uint32_t dg() const { return m_dg; }
    std::uint16_t dat() const { return m_dat; }
    std::uint16_t cap() const { return m_cap; }
    std::uint16_t msg() const { return m_msg; }
    int errorCode() const { return m_error; }
    int status() const { return m_status; }

private:
    std::uint32_t m_dg;
    std::uint16_t m_dat;
    std::uint16_t m_cap;
    std::uint16_t m_msg;
    int m_error;
    int m_status;
};

} // namespace pagewren

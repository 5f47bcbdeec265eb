#include "leafpress/leafpress.h"

#include "leafpress/CallResult.h"
#include "leafpress/LeafpressError.h"
#include "leafpress/PendingDocument.h"

#include <mutex>

namespace {

using pagewren::leafpress::callResult;
using pagewren::leafpress::LeafpressError;
using pagewren::leafpress::PendingDocument;
using pagewren::leafpress::ResultCode;

// The program calls from one thread; the lock keeps other callers from corrupting the state.
std::mutex documentMutex;

PendingDocument& document()
{
    static PendingDocument pending;
    return pending;
}

[[noreturn]] void throwInvalid(const std::string& reason)
{
    throw LeafpressError(ResultCode::InvalidParameter, "Invalid parameter: " + reason);
}

} // namespace

extern "C" {

int LPRS_AddImage(const char* path)
{
    return callResult(nullptr, [path] {
        const std::lock_guard lock(documentMutex);
        if (!path || !*path) {
            // The caller may not read this result: make the next PDF fail rather than miss a page.
            document().rejectParameter("Invalid parameter: an image was added without a path");
            throwInvalid("no image path");
        }
        document().addImage(path);
    });
}

int LPRS_SetDPI(int dpi)
{
    return callResult(nullptr, [dpi] {
        const std::lock_guard lock(documentMutex);
        document().setDpi(dpi);
        if (dpi < 1)
            throwInvalid("a resolution below 1 dpi");
    });
}

int LPRS_MakePDF(const char* pdfPath, int /*reserved1*/, char* message, int /*reserved2*/)
{
    return callResult(message, [pdfPath, message] {
        const std::lock_guard lock(documentMutex);
        if (!pdfPath || !message) {
            document().discard();
            throwInvalid(pdfPath ? "no message buffer" : "no path for the PDF");
        }
        document().make(pdfPath);
    });
}

} // extern "C"

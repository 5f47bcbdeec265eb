#include "leafpress/CallResult.h"
#include "leafpress/LeafpressError.h"
#include "leafpress/Message.h"

#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <functional>
#include <new>
#include <stdexcept>

namespace pagewren::leafpress {
namespace {

// A 300-byte message buffer followed by a guard zone.
struct Buffer {
    std::array<char, messageCapacity + 64> bytes;
    Buffer() { bytes.fill('#'); }
    std::string text() const { return bytes.data(); }
    bool guardIntact() const
    {
        return std::all_of(bytes.begin() + messageCapacity, bytes.end(),
                           [](char c) { return c == '#'; });
    }
};

TEST(Message, FitsTheBufferWithoutSplittingACharacter)
{
    const std::string e = "\xc3\xa9"; // é, two bytes
    struct Case {
        std::string first, second, expected;
    };
    const Case cases[] = {
        {"short", "", "short"},
        {"Internal error: ", "boom", "Internal error: boom"},
        {std::string(400, 'a'), "tail", std::string(299, 'a')},
        {std::string(290, 'a'), std::string(20, 'b'), std::string(290, 'a') + std::string(9, 'b')},
        // 298 bytes, then é would need bytes 299 and 300: it is left out whole.
        {std::string(298, 'a') + e, "", std::string(298, 'a')},
        {std::string(297, 'a') + e, "x", std::string(297, 'a') + e},
        {std::string(297, 'a'), e + e, std::string(297, 'a') + e},
    };
    for (const Case& c : cases) {
        Buffer buffer;
        writeMessage(buffer.bytes.data(), c.first, c.second);
        EXPECT_EQ(buffer.text(), c.expected) << c.first.size() << "+" << c.second.size();
        EXPECT_TRUE(buffer.guardIntact());
        // Nothing is written past the NUL either: the program's blanks stay blanks.
        EXPECT_EQ(buffer.bytes[c.expected.size() + 1], '#');
    }
}

TEST(Message, ImageMessageKeepsTheFileNameAndReason)
{
    const std::string folder = "/home/user/Desktop/Pagewren/" + std::string(400, 'x');
    const std::string path = folder + "/img_001_COMPRESSED.JPG";
    struct Case {
        std::string path;
        std::string expected; // empty: just check length and ending
    };
    const Case cases[] = {
        {"/a/b.jpg", "/a/b.jpg: the JPEG image is truncated"},
        {path, ""},
        {std::string(400, '\xc3'), ""}, // not even UTF-8
    };
    for (const Case& c : cases) {
        const LeafpressError error =
            LeafpressError::forImage(c.path, "the JPEG image is truncated");
        const std::string message = error.what();
        EXPECT_EQ(error.code(), ResultCode::ImageFailed);
        EXPECT_LE(message.size(), messageCapacity - 1);
        EXPECT_TRUE(message.ends_with(": the JPEG image is truncated")) << message;
        if (!c.expected.empty()) {
            EXPECT_EQ(message, c.expected);
        }
    }
    const std::string shortened = LeafpressError::forImage(path, "truncated").what();
    EXPECT_TRUE(shortened.starts_with("/home/user/Desktop/")) << shortened;
    EXPECT_TRUE(shortened.ends_with("xxx/img_001_COMPRESSED.JPG: truncated")) << shortened;
    EXPECT_NE(shortened.find("..."), std::string::npos);
}

TEST(Message, ShortenedPathNeverSplitsACharacter)
{
    const std::string e = "\xc3\xa9";
    std::string path;
    for (int i = 0; i < 200; ++i)
        path += e;
    for (std::size_t limit = 4; limit < 40; ++limit) {
        const std::string shortened = shortenPath(path, limit);
        EXPECT_LE(shortened.size(), limit);
        const std::size_t dots = shortened.find("...");
        ASSERT_NE(dots, std::string::npos);
        // Both sides hold whole characters only.
        EXPECT_EQ(dots % 2, 0u) << limit;
        EXPECT_EQ((shortened.size() - dots - 3) % 2, 0u) << limit;
    }
}

// Whatever the body throws becomes a result code; nothing escapes.
TEST(CallResult, TurnsEveryFailureIntoACode)
{
    struct Case {
        const char* name;
        std::function<void()> body;
        int code;
        std::string message; // empty: buffer untouched
    };
    const Case cases[] = {
        {"success", [] {}, 0, ""},
        {"image", [] { throw LeafpressError(ResultCode::ImageFailed, "a.jpg: not a JPEG image"); },
         3, "a.jpg: not a JPEG image"},
        {"output",
         [] { throw LeafpressError(ResultCode::OutputFailed, "Cannot create the PDF x"); }, 2,
         "Cannot create the PDF x"},
        {"standard exception", [] { throw std::runtime_error("boom"); }, 4, "Internal error: boom"},
        {"out of memory", [] { throw std::bad_alloc(); }, 4, "Internal error: std::bad_alloc"},
        {"not an exception class", [] { throw 42; }, 4, "Internal error"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Buffer buffer;
        EXPECT_EQ(callResult(buffer.bytes.data(), c.body), c.code);
        if (c.message.empty()) {
            EXPECT_EQ(buffer.bytes[0], '#');
        } else {
            EXPECT_EQ(buffer.text(), c.message);
        }
        EXPECT_EQ(callResult(nullptr, c.body), c.code); // no buffer: the code alone
    }
}

} // namespace
} // namespace pagewren::leafpress

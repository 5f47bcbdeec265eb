#include "image/ImageFormat.h"

#include <gtest/gtest.h>

namespace pagewren {
namespace {

TEST(ImageFormat, FromTheExtensionInAnyCase)
{
    struct Case {
        const char* path;
        ImageFormat format;
    };
    const Case cases[] = {
        {"/job/img_001.tif", ImageFormat::Tiff},
        {"a.TIFF", ImageFormat::Tiff},
        {"a.JpG", ImageFormat::Jpeg},
        {"a.jpeg", ImageFormat::Jpeg},
        {"a.jpe", ImageFormat::Jpeg},
        {"a.png", ImageFormat::Png},
        {"a.Gif", ImageFormat::Gif},
        {"a.bmp", ImageFormat::Bmp},
        {"a.dib", ImageFormat::Bmp},
        {"/scans.tif/page", ImageFormat::Unknown},
        {"a.tif.bak", ImageFormat::Unknown},
        {"a.tif.", ImageFormat::Unknown},
        {"tif", ImageFormat::Unknown},
        {"", ImageFormat::Unknown},
        {"a.ti", ImageFormat::Unknown},
        {"a.tiff2", ImageFormat::Unknown},
    };
    for (const Case& c : cases)
        EXPECT_EQ(ImageFormatFromPath(c.path), c.format) << c.path;
}

} // namespace
} // namespace pagewren

#include "PageFixtures.h"

#include "ImageTestSupport.h"
#include "image/PackBitsTiff.h"
#include "image/Resolution.h"

#include <gtest/gtest.h>

#include <sstream>

namespace pagewren::test {

void MakePage(const std::filesystem::path& path, int width, int height, int dpi)
{
    SavePackBitsTiff(MakePattern(PatternKind::Rgb, width, height,
                                 DpiToPelsPerMeter(static_cast<std::uint32_t>(dpi))),
                     path.string());
}

PictureFacts Identify(const std::filesystem::path& file)
{
    std::istringstream output(
        RunTool("identify -units PixelsPerInch -format '%m %w %h %x %y %Q' " + Quoted(file)));
    PictureFacts facts;
    double xDpi = 0, yDpi = 0;
    output >> facts.format >> facts.width >> facts.height >> xDpi >> yDpi >> facts.quality;
    EXPECT_TRUE(output) << "identify " << file;
    facts.xDpi = static_cast<int>(xDpi + 0.5);
    facts.yDpi = static_cast<int>(yDpi + 0.5);
    return facts;
}

} // namespace pagewren::test

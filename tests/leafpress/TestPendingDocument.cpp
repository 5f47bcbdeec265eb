#include "leafpress/PendingDocument.h"

#include "JpegFixtures.h"
#include "TestHome.h"

#include <gtest/gtest.h>

namespace pagewren::test {
namespace {

using leafpress::PendingDocument;

class PendingDocumentTest : public HomeTest {};

// Fixed IDs make files comparable byte for byte, as the image layer's tests will need; the
// ordinary ID differs from file to file.
TEST_F(PendingDocumentTest, StaticIdMakesEqualInputGiveEqualFiles)
{
    makeJpeg("a.jpg", JpegKind::Rgb);
    makeJpeg("b.jpg", JpegKind::Cmyk);
    const auto write = [](bool staticId, const char* pdf) {
        PendingDocument document;
        document.setStaticId(staticId);
        document.addImage("a.jpg");
        document.addImage("b.jpg");
        document.make(pdf);
        return readFile(pdf);
    };
    const std::string first = write(true, "first.pdf");
    EXPECT_TRUE(first == write(true, "second.pdf"));
    EXPECT_FALSE(write(false, "third.pdf") == write(false, "fourth.pdf"));
}

} // namespace
} // namespace pagewren::test

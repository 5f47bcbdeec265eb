#include "image/PdfAssembly.h"

#include "image/LeafpressCalls.h"
#include "image/PageCompressor.h"
#include "util/FileDir.h"
#include "util/StrUtil.h"

namespace pagewren {

namespace {

constexpr int kPdfDpi = 300;
constexpr std::size_t kMessageSize = 300;

} // namespace

int CompressImages(const StringList& Pages, StringList& Copies, CFileDir& FileDir)
{
    Copies.clear();
    StringList names;
    names.reserve(Pages.size());
    for (const std::string& page : Pages)
        names.push_back(FileDir.ChangeExt(FileDir.InsertBeforeExt(page, "_COMPRESSED"), "JPG"));
    return PageCompressor().run(Pages, names, Copies);
}

int CompressImages(const StringList& Pages, StringList& Copies)
{
    CFileDir fileDir;
    return CompressImages(Pages, Copies, fileDir);
}

bool CreatePDF(const StringList& Copies, const std::string& PdfPath, std::string& ErrorText)
{
    return CreatePDF(Copies, PdfPath, ErrorText, LeafpressCalls::Library());
}

bool CreatePDF(const StringList& Copies, const std::string& PdfPath, std::string& ErrorText,
               const LeafpressCalls& Library)
{
    for (const std::string& copy : Copies)
        Library.AddImage(copy.c_str());
    std::string buffer(kMessageSize, ' ');
    Library.SetDPI(kPdfDpi);
    const int code = Library.MakePDF(PdfPath.c_str(), 0, buffer.data(), 4);
    ErrorText = buffer;
    switch (code) {
    case 1:
        ErrorText = "invalid parameter";
        break;
    case 2:
        ErrorText = "output pdf could not be opened";
        break;
    case 3:
        ErrorText = TrimBlanks(buffer);
        break;
    case 4:
        ErrorText = "internal PDF generation error";
        break;
    default:
        break;
    }
    return code == 0;
}

} // namespace pagewren

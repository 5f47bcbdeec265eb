#pragma once

#include "util/FileDir.h"

#include <string>

namespace pagewren {

struct LeafpressCalls;

// Closing a job: a JPEG copy of every page file, then one PDF made of the copies.

// Writes a JPEG copy (quality 60, with the page's resolution) of every page beside it, named by
// FileDir's InsertBeforeExt(page, "_COMPRESSED") and ChangeExt(that, "JPG"), and lists the
// copies in page order in Copies, which is emptied first. A page that cannot be loaded gets no
// copy and is not listed. Returns the number of copies listed.
//
// The pages are converted on all processors, with the result of converting them one after the
// other: when a conversion throws, the pages before that page are converted and listed, and the
// exception of the first failing page in page order reaches the caller. FileDir is used on the
// calling thread only.
int CompressImages(const StringList& Pages, StringList& Copies, CFileDir& FileDir);
// The same with a CFileDir of its own.
int CompressImages(const StringList& Pages, StringList& Copies);

// Hands the copies in order to the image-to-PDF library and lets it write the PDF at PdfPath at
// 300 dpi. Returns true when the library reports success. ErrorText receives the library's
// 300-character message buffer as it left it, then by result code: 1 "invalid parameter",
// 2 "output pdf could not be opened", 3 the library's message without the blanks and control
// characters around it, 4 "internal PDF generation error"; any other code keeps the buffer.
bool CreatePDF(const StringList& Copies, const std::string& PdfPath, std::string& ErrorText);
// The same through the given calls in place of the library's.
bool CreatePDF(const StringList& Copies, const std::string& PdfPath, std::string& ErrorText,
               const LeafpressCalls& Library);

} // namespace pagewren

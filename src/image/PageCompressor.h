#pragma once

#include "util/FileDir.h"

#include <functional>
#include <string>

namespace pagewren {

class TDWImage;

// Turns page files into their JPEG copies on several threads at once. Each thread has one image
// document and converts one page at a time, so memory grows with the number of threads, never
// with the number of pages. The result is what converting the pages one after the other in page
// order gives: the same copies, listed in the same order, and the same failure.
class PageCompressor {
public:
    // Writes the copy of one page with the thread's document. Returns false when the page cannot
    // be loaded (it then gets no copy); may throw. Called from several threads at once, each
    // with its own document.
    using Convert =
        std::function<bool(TDWImage& image, const std::string& page, const std::string& copy)>;

    // Quality of the JPEG copies.
    static constexpr int kQuality = 60;

    explicit PageCompressor(unsigned workers = DefaultWorkers(), Convert convert = WriteJpegCopy);

    // Converts pages[i] to copyNames[i] for every i and appends the names of the copies made, in
    // page order, to copies; returns how many were appended. When converting a page throws, every
    // page before it is still converted, and the exception of the first such page in page order
    // is raised again here, with copies listing the pages before it. Pages that share a copy name
    // are converted one after the other in page order, so the last of them that loads wins, as it
    // would one page at a time; when a page is another page's copy, all go one after the other.
    // Throws std::invalid_argument when the two lists differ in length.
    int run(const StringList& pages, const StringList& copyNames, StringList& copies) const;

    // Loads page and writes it to copy as a baseline JPEG at kQuality with the page's resolution:
    // what image.LoadFromFile(page) and image.SaveToFile(copy, kQuality) write, the scanner's
    // pages taking the shorter way of DirectJpegCopy. False when the page cannot be loaded. A copy
    // that cannot be written still counts: its name is listed and the PDF library reports it. So
    // that the library does not take an older file of that name for it, such a file is removed;
    // when even that fails, throws Error.
    static bool WriteJpegCopy(TDWImage& image, const std::string& page, const std::string& copy);

    // One worker per processor the system reports, at least one.
    static unsigned DefaultWorkers();

private:
    unsigned m_workers;
    Convert m_convert;
};

} // namespace pagewren

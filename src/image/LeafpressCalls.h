#pragma once

namespace pagewren {

// The three calls of the image-to-PDF library that PDF assembly makes. They are gathered here
// so that tests can put in result codes the real library never gives.
struct LeafpressCalls {
    int (*AddImage)(const char* path);
    int (*SetDPI)(int dpi);
    int (*MakePDF)(const char* pdfPath, int reserved1, char* message, int reserved2);

    // The calls of libleafpress.
    static const LeafpressCalls& Library();
};

} // namespace pagewren

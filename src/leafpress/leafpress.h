#pragma once

// Leafpress: turns JPEG files into a PDF with one page per image. The images are embedded
// unchanged; each page is its image's size at the resolution set with LPRS_SetDPI.
//
// Calls may come from any thread; they are taken one at a time. Texts are NUL-terminated 8-bit
// strings.

#if defined(_WIN32)
#if defined(LEAFPRESS_BUILDING)
#define LEAFPRESS_API __declspec(dllexport)
#else
#define LEAFPRESS_API __declspec(dllimport)
#endif
#else
#define LEAFPRESS_API __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
extern "C" {
#endif

// Result codes of the three calls.
enum {
    LPRS_OK = 0,
    LPRS_INVALID_PARAMETER = 1, // a null path or buffer, a resolution below 1
    LPRS_OUTPUT_FAILED = 2,     // the PDF cannot be created at the given path
    LPRS_IMAGE_FAILED = 3,      // an image is missing, unreadable or not a usable JPEG; no pages
    LPRS_INTERNAL_ERROR = 4
};

// Longest message LPRS_MakePDF writes, including its NUL.
#define LPRS_MESSAGE_SIZE 300

// Appends the JPEG file at `path` to the pending document as its next page. The file is read
// only by LPRS_MakePDF. A null or empty path returns LPRS_INVALID_PARAMETER, and the next
// LPRS_MakePDF then fails with that code rather than leave a page out.
LEAFPRESS_API int LPRS_AddImage(const char* path);

// Sets the resolution, in dots per inch, at which images become pages (300 until set). It stays
// until set again, across LPRS_MakePDF. A value below 1 returns LPRS_INVALID_PARAMETER, and
// LPRS_MakePDF fails with that code until a valid value is set.
LEAFPRESS_API int LPRS_SetDPI(int dpi);

// Writes the pending document as a PDF at `pdfPath`, replacing a file of that name only on
// success, and empties the pending document whatever the result. On any result but LPRS_OK a
// message of at most LPRS_MESSAGE_SIZE bytes with its NUL is written to `message`; nothing is
// written beyond that NUL. The two integer arguments are reserved and ignored.
LEAFPRESS_API int LPRS_MakePDF(const char* pdfPath, int reserved1, char* message, int reserved2);

#ifdef __cplusplus
}
#endif

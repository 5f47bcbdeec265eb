#pragma once

#include <optional>
#include <string>
#include <vector>

namespace pagewren::leafpress {

// The document that is being put together: JPEG files in page order and the resolution that
// turns their pixels into page sizes. make() writes it as a PDF and starts a new one.
class PendingDocument {
public:
    static constexpr int defaultDpi = 300;

    void addImage(std::string path);
    // Remembers a parameter the caller got wrong, so that make() fails with it instead of
    // writing a PDF that silently lacks a page.
    void rejectParameter(std::string reason);
    // Values below 1 are kept too; make() refuses them.
    void setDpi(int dpi) { m_dpi = dpi; }
    int dpi() const { return m_dpi; }
    std::size_t imageCount() const { return m_images.size(); }

    // A fixed document ID, so that equal input gives byte-equal files. For tests only.
    void setStaticId(bool on) { m_staticId = on; }

    // Writes the images, one page each, to a PDF at `path`, which is replaced only on success.
    // The images and any rejected parameter are dropped whatever happens; the resolution stays.
    // Throws LeafpressError.
    void make(const std::string& path);
    // Drops the images and any rejected parameter.
    void discard();

private:
    std::vector<std::string> m_images;
    std::optional<std::string> m_rejected;
    int m_dpi = defaultDpi;
    bool m_staticId = false;
};

} // namespace pagewren::leafpress

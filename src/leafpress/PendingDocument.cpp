#include "leafpress/PendingDocument.h"

#include "leafpress/JpegFile.h"
#include "leafpress/JpegInfo.h"
#include "leafpress/LeafpressError.h"
#include "leafpress/OutputFile.h"

#include <qpdf/Pipeline.hh>
#include <qpdf/QPDF.hh>
#include <qpdf/QPDFObjGen.hh>
#include <qpdf/QPDFObjectHandle.hh>
#include <qpdf/QPDFPageDocumentHelper.hh>
#include <qpdf/QPDFWriter.hh>

#include <charconv>
#include <exception>
#include <map>
#include <memory>
#include <random>
#include <utility>

namespace pagewren::leafpress {

namespace {

using Object = QPDFObjectHandle;

// The first failure of our own raised inside qpdf's callbacks. qpdf may wrap, retry or swallow
// what a callback throws, so the original is kept here and raised again once the writer returns.
class FailureRecord {
public:
    template <typename Action>
    void guard(Action&& action)
    {
        try {
            action();
        } catch (const LeafpressError&) {
            if (!m_first)
                m_first = std::current_exception();
            throw;
        }
    }

    void rethrowIfAny() const
    {
        if (m_first)
            std::rethrow_exception(m_first);
    }

private:
    std::exception_ptr m_first;
};

struct Page {
    std::string path;
    JpegInfo info;
};

// Reads each image file when the writer reaches it, so only one image is in memory at a time.
class ImageProvider : public Object::StreamDataProvider {
public:
    explicit ImageProvider(FailureRecord& failures) : m_failures(failures) {}

    void add(QPDFObjGen stream, const Page& page) { m_pages.emplace(stream, &page); }

    using Object::StreamDataProvider::provideStreamData;
    void provideStreamData(QPDFObjGen const& stream, Pipeline* pipeline) override
    {
        const Page& page = *m_pages.at(stream);
        m_failures.guard([&] {
            JpegFile::copy(page.path, page.info,
                           [pipeline](const std::uint8_t* data, std::size_t size) {
                               pipeline->write(data, size);
                           });
        });
    }

private:
    FailureRecord& m_failures;
    std::map<QPDFObjGen, const Page*> m_pages;
};

// The end of qpdf's output pipeline: our atomic file.
class FileSink : public Pipeline {
public:
    FileSink(OutputFile& file, FailureRecord& failures)
        : Pipeline("leafpress output", nullptr), m_file(file), m_failures(failures)
    {
    }

    using Pipeline::write;
    void write(unsigned char const* data, size_t size) override
    {
        m_failures.guard([&] { m_file.write(data, size); });
    }
    void finish() override {}

private:
    OutputFile& m_file;
    FailureRecord& m_failures;
};

// A PDF number with up to four decimals, independent of the C locale.
std::string pdfNumber(double value)
{
    char text[64];
    const auto result =
        std::to_chars(std::begin(text), std::end(text), value, std::chars_format::fixed, 4);
    std::string number(text, result.ptr);
    number.erase(number.find_last_not_of('0') + 1);
    if (number.back() == '.')
        number.pop_back();
    return number;
}

const char* colourSpace(const JpegInfo& info)
{
    switch (info.components) {
    case 1:
        return "/DeviceGray";
    case 3:
        return "/DeviceRGB";
    default:
        return "/DeviceCMYK";
    }
}

Object imageStream(QPDF& pdf, const JpegInfo& info)
{
    Object image = Object::newStream(&pdf);
    Object dict = image.getDict();
    dict.replaceKey("/Type", Object::newName("/XObject"));
    dict.replaceKey("/Subtype", Object::newName("/Image"));
    dict.replaceKey("/Width", Object::newInteger(info.width));
    dict.replaceKey("/Height", Object::newInteger(info.height));
    dict.replaceKey("/ColorSpace", Object::newName(colourSpace(info)));
    dict.replaceKey("/BitsPerComponent", Object::newInteger(8));
    // Adobe's applications store CMYK JPEGs inverted and mark them with APP14; viewers that
    // follow the PDF rules alone would show such a page as a negative.
    if (info.invertedCmyk())
        dict.replaceKey("/Decode", Object::parse("[1 0 1 0 1 0 1 0]"));
    return image;
}

void addPage(QPDF& pdf, QPDFPageDocumentHelper& pages, const Object& image, const JpegInfo& info,
             int dpi)
{
    const std::string width = pdfNumber(info.width * 72.0 / dpi);
    const std::string height = pdfNumber(info.height * 72.0 / dpi);
    Object xobjects = Object::newDictionary();
    xobjects.replaceKey("/Im1", image);
    Object resources = Object::newDictionary();
    resources.replaceKey("/XObject", xobjects);
    Object page = pdf.makeIndirectObject(Object::newDictionary());
    page.replaceKey("/Type", Object::newName("/Page"));
    page.replaceKey("/MediaBox",
                    Object::newArray({Object::newInteger(0), Object::newInteger(0),
                                      Object::newReal(width), Object::newReal(height)}));
    page.replaceKey("/Resources", resources);
    page.replaceKey("/Contents", Object::newStream(&pdf, "q " + width + " 0 0 " + height +
                                                             " 0 0 cm /Im1 Do Q\n"));
    pages.addPage(QPDFPageObjectHelper(page), false);
}

// qpdf seeds its document ID with the time in seconds and the output name, which a pipeline does
// not have: two PDFs made within a second would share an ID. A random first half keeps them
// apart; qpdf still makes the second half.
Object uniqueId()
{
    std::random_device entropy;
    std::string bytes;
    while (bytes.size() < 16) {
        const unsigned value = entropy();
        for (int shift = 0; shift < 32 && bytes.size() < 16; shift += 8)
            bytes += static_cast<char>((value >> shift) & 0xFF);
    }
    const Object half = Object::newString(bytes);
    return Object::newArray({half, half});
}

} // namespace

void PendingDocument::addImage(std::string path)
{
    m_images.push_back(std::move(path));
}

void PendingDocument::rejectParameter(std::string reason)
{
    if (!m_rejected)
        m_rejected = std::move(reason);
}

void PendingDocument::discard()
{
    m_images.clear();
    m_rejected.reset();
}

void PendingDocument::make(const std::string& path)
{
    const std::vector<std::string> images = std::exchange(m_images, {});
    const std::optional<std::string> rejected = std::exchange(m_rejected, std::nullopt);
    if (rejected)
        throw LeafpressError(ResultCode::InvalidParameter, *rejected);
    if (m_dpi < 1)
        throw LeafpressError(ResultCode::InvalidParameter, "Invalid parameter: a resolution of " +
                                                               std::to_string(m_dpi) +
                                                               " dpi (it must be at least 1)");
    if (images.empty())
        throw LeafpressError(ResultCode::ImageFailed,
                             "The PDF would have no pages: no images were added");

    // Every image is checked up to its first scan before the output is touched; the rest of
    // each file is checked as it is copied.
    std::vector<Page> pages;
    pages.reserve(images.size());
    for (const std::string& image : images)
        pages.push_back({image, JpegFile::readHeader(image)});

    OutputFile output(path);
    FailureRecord failures;
    FileSink sink(output, failures);
    auto provider = std::make_shared<ImageProvider>(failures);

    QPDF pdf;
    pdf.emptyPDF();
    pdf.setSuppressWarnings(true);
    QPDFPageDocumentHelper pageHelper(pdf);
    for (const Page& page : pages) {
        Object image = imageStream(pdf, page.info);
        image.replaceStreamData(provider, Object::newName("/DCTDecode"), Object::newNull());
        provider->add(image.getObjGen(), page);
        addPage(pdf, pageHelper, image, page.info, m_dpi);
    }

    QPDFWriter writer(pdf);
    writer.setOutputPipeline(&sink);
    if (m_staticId)
        writer.setStaticID(true);
    else
        pdf.getTrailer().replaceKey("/ID", uniqueId());
    writer.setObjectStreamMode(qpdf_o_disable);
    // The JPEG data goes out exactly as read: nothing decoded, nothing recompressed.
    writer.setDecodeLevel(qpdf_dl_none);
    writer.setCompressStreams(false);
    try {
        writer.write();
    } catch (...) {
        failures.rethrowIfAny();
        throw;
    }
    failures.rethrowIfAny();
    output.commit();
}

} // namespace pagewren::leafpress

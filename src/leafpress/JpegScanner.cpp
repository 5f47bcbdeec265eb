#include "leafpress/JpegScanner.h"

#include <algorithm>
#include <cstring>

namespace pagewren::leafpress {

namespace {

constexpr std::uint8_t SOF0 = 0xC0; // baseline
constexpr std::uint8_t SOF1 = 0xC1; // extended sequential
constexpr std::uint8_t SOF2 = 0xC2; // progressive
constexpr std::uint8_t DHT = 0xC4;
constexpr std::uint8_t JPG = 0xC8;
constexpr std::uint8_t DAC = 0xCC;
constexpr std::uint8_t RST0 = 0xD0;
constexpr std::uint8_t RST7 = 0xD7;
constexpr std::uint8_t SOI = 0xD8;
constexpr std::uint8_t EOI = 0xD9;
constexpr std::uint8_t SOS = 0xDA;
constexpr std::uint8_t DHP = 0xDE;
constexpr std::uint8_t EXP = 0xDF;
constexpr std::uint8_t APP14 = 0xEE;
constexpr std::uint8_t TEM = 0x01;

// Enough for any frame or scan header; longer ones are malformed anyway.
constexpr std::size_t headerKeep = 1024;
constexpr std::size_t adobeKeep = 12;

const std::string notJpeg = "not a JPEG image";

std::string damaged(const char* detail)
{
    return std::string("the JPEG image is damaged (") + detail + ")";
}

std::string unsupported(const std::string& detail)
{
    return "unsupported JPEG image (" + detail + ")";
}

bool isFrameMarker(std::uint8_t code)
{
    return code >= SOF0 && code <= 0xCF && code != DHT && code != JPG && code != DAC;
}

int bigEndian16(const std::vector<std::uint8_t>& bytes, std::size_t at)
{
    return (bytes[at] << 8) | bytes[at + 1];
}

} // namespace

bool JpegScanner::fail(std::string reason)
{
    m_state = State::Failed;
    m_fault = std::move(reason);
    return false;
}

bool JpegScanner::feed(const std::uint8_t* data, std::size_t size)
{
    std::size_t i = 0;
    m_total += size;
    while (i < size) {
        switch (m_state) {
        case State::Done:
            return true;
        case State::Failed:
            return false;
        case State::Start:
            if (data[i++] != 0xFF)
                return fail(notJpeg);
            m_state = State::StartCode;
            break;
        case State::StartCode:
            if (data[i++] != SOI)
                return fail(notJpeg);
            m_state = State::MarkerPrefix;
            break;
        case State::MarkerPrefix:
            if (data[i++] != 0xFF)
                return fail(damaged("data where a marker belongs"));
            m_state = State::MarkerCode;
            break;
        case State::MarkerCode: {
            const std::uint8_t code = data[i++];
            if (code != 0xFF && !onMarker(code)) // 0xFF is a fill byte
                return false;
            break;
        }
        case State::LengthHigh:
            m_segmentLength = static_cast<std::size_t>(data[i++]) << 8;
            m_state = State::LengthLow;
            break;
        case State::LengthLow:
            m_segmentLength |= data[i++];
            if (m_segmentLength < 2)
                return fail(damaged("a marker segment with an invalid length"));
            m_remaining = m_segmentLength - 2;
            m_body.clear();
            m_state = State::Segment;
            if (m_remaining == 0 && !onSegment())
                return false;
            break;
        case State::Segment: {
            const std::size_t n = std::min(m_remaining, size - i);
            const std::size_t keep = std::min(n, m_keep - std::min(m_keep, m_body.size()));
            m_body.insert(m_body.end(), data + i, data + i + keep);
            i += n;
            m_remaining -= n;
            if (m_remaining == 0 && !onSegment())
                return false;
            break;
        }
        case State::Entropy: {
            const void* prefix = std::memchr(data + i, 0xFF, size - i);
            if (!prefix) {
                i = size;
                break;
            }
            i = static_cast<std::size_t>(static_cast<const std::uint8_t*>(prefix) - data) + 1;
            m_state = State::EntropyPrefix;
            break;
        }
        case State::EntropyPrefix: {
            const std::uint8_t code = data[i++];
            if (code == 0x00 || (code >= RST0 && code <= RST7))
                m_state = State::Entropy; // a stuffed 0xFF or a restart marker
            else if (code != 0xFF && !onMarker(code))
                return false;
            break;
        }
        }
    }
    return m_state != State::Failed;
}

bool JpegScanner::finish()
{
    switch (m_state) {
    case State::Done:
        return true;
    case State::Failed:
        return false;
    default:
        if (m_total == 0)
            return fail("the file is empty");
        if (m_total < 2)
            return fail(notJpeg);
        return fail("the JPEG image is truncated");
    }
}

bool JpegScanner::onMarker(std::uint8_t code)
{
    if (code == SOI)
        return fail(damaged("a second start-of-image marker"));
    if (code == EOI) {
        if (m_scans == 0)
            return fail(damaged("no image data"));
        m_state = State::Done;
        return true;
    }
    if (code >= RST0 && code <= RST7)
        return fail(damaged("a restart marker outside the image data"));
    if (code == TEM) {
        m_state = State::MarkerPrefix;
        return true;
    }
    if (code < SOF0)
        return fail(damaged("an invalid marker"));
    if (isFrameMarker(code) && code != SOF0 && code != SOF1 && code != SOF2) {
        if (code == 0xC3)
            return fail(unsupported("lossless coding"));
        if (code >= 0xC9)
            return fail(unsupported("arithmetic coding"));
        return fail(unsupported("hierarchical coding"));
    }
    if (code == DHP || code == EXP)
        return fail(unsupported("hierarchical coding"));
    m_marker = code;
    m_keep = isFrameMarker(code) || code == SOS ? headerKeep
             : code == APP14 && m_scans == 0    ? adobeKeep
                                                : 0;
    m_state = State::LengthHigh;
    return true;
}

bool JpegScanner::onSegment()
{
    m_state = State::MarkerPrefix;
    if (isFrameMarker(m_marker))
        return readFrameHeader();
    if (m_marker == SOS)
        return readScanHeader();
    if (m_marker == APP14 && m_scans == 0)
        readAdobeMarker();
    return true;
}

bool JpegScanner::readFrameHeader()
{
    if (++m_frames > 1)
        return fail(damaged("more than one frame header"));
    const std::size_t bodySize = m_segmentLength - 2;
    if (bodySize < 6 || bodySize != 6 + 3 * std::size_t{m_body[5]})
        return fail(damaged("a malformed frame header"));
    const int precision = m_body[0];
    if (precision != 8)
        return fail(unsupported(std::to_string(precision) + "-bit samples"));
    m_info.height = bigEndian16(m_body, 1);
    m_info.width = bigEndian16(m_body, 3);
    m_info.components = m_body[5];
    m_info.progressive = m_marker == SOF2;
    if (m_info.components != 1 && m_info.components != 3 && m_info.components != 4)
        return fail(unsupported(std::to_string(m_info.components) + " colour components"));
    if (m_info.width == 0)
        return fail(damaged("a width of zero"));
    if (m_info.height == 0)
        return fail(unsupported("height defined after the first scan"));
    for (std::size_t c = 0; c < m_body[5]; ++c) {
        const std::uint8_t id = m_body[6 + 3 * c];
        const int horizontal = m_body[7 + 3 * c] >> 4;
        const int vertical = m_body[7 + 3 * c] & 0x0F;
        const int table = m_body[8 + 3 * c];
        if (horizontal < 1 || horizontal > 4 || vertical < 1 || vertical > 4 || table > 3)
            return fail(damaged("a malformed frame header"));
        if (std::find(m_componentIds.begin(), m_componentIds.end(), id) != m_componentIds.end())
            return fail(damaged("two colour components with one identifier"));
        m_componentIds.push_back(id);
    }
    return true;
}

bool JpegScanner::readScanHeader()
{
    if (m_frames == 0)
        return fail(damaged("image data before the frame header"));
    const std::size_t bodySize = m_segmentLength - 2;
    const std::size_t count = bodySize > 0 ? m_body[0] : 0;
    if (count < 1 || count > 4 || bodySize != 4 + 2 * count)
        return fail(damaged("a malformed scan header"));
    for (std::size_t c = 0; c < count; ++c) {
        const std::uint8_t id = m_body[1 + 2 * c];
        if (std::find(m_componentIds.begin(), m_componentIds.end(), id) == m_componentIds.end())
            return fail(damaged("a scan of an unknown colour component"));
    }
    ++m_scans;
    m_state = State::Entropy;
    return true;
}

void JpegScanner::readAdobeMarker()
{
    static constexpr char signature[] = "Adobe";
    if (m_body.size() < adobeKeep || std::memcmp(m_body.data(), signature, 5) != 0)
        return;
    m_info.adobe = true;
    m_info.adobeTransform = m_body[11];
}

} // namespace pagewren::leafpress

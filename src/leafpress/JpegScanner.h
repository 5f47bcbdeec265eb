#pragma once

#include "leafpress/JpegInfo.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace pagewren::leafpress {

// Checks the marker structure of a JPEG file fed to it in pieces of any size, from the
// start-of-image marker through the entropy-coded scans to the end-of-image marker, and reads
// the frame header on the way. It does not decode the image: it finds files that are cut short,
// not JPEG at all, structurally broken, or of a kind a PDF viewer cannot show (lossless,
// hierarchical, arithmetic-coded, 12-bit, 2 components).
class JpegScanner {
public:
    // Consumes the next bytes. Returns false once the data is found faulty; see fault().
    bool feed(const std::uint8_t* data, std::size_t size);
    // Call after the last byte: false when the image ended early or was faulty.
    bool finish();

    // The first scan's header has been read, so info() is complete.
    bool headerComplete() const { return m_scans > 0; }
    // The end-of-image marker has been read; later bytes are ignored.
    bool complete() const { return m_state == State::Done; }
    bool failed() const { return m_state == State::Failed; }
    // Why the data was refused, for the user.
    const std::string& fault() const { return m_fault; }
    const JpegInfo& info() const { return m_info; }

private:
    enum class State {
        Start,        // expecting 0xFF 0xD8
        StartCode,    //
        MarkerPrefix, // expecting 0xFF before a marker
        MarkerCode,   // after 0xFF: the marker code or fill bytes
        LengthHigh,
        LengthLow,
        Segment,       // the body of a marker segment
        Entropy,       // entropy-coded data of a scan
        EntropyPrefix, // 0xFF inside entropy-coded data
        Done,
        Failed,
    };

    bool fail(std::string reason);
    bool onMarker(std::uint8_t code);
    bool onSegment();
    bool readFrameHeader();
    bool readScanHeader();
    void readAdobeMarker();

    State m_state = State::Start;
    std::uint8_t m_marker = 0;
    std::size_t m_segmentLength = 0;
    std::size_t m_remaining = 0;      // body bytes of the current segment still to come
    std::vector<std::uint8_t> m_body; // the kept part of the current segment's body
    std::size_t m_keep = 0;           // how much of the body to keep
    std::uint64_t m_total = 0;
    int m_frames = 0;
    int m_scans = 0;
    std::vector<std::uint8_t> m_componentIds;
    JpegInfo m_info;
    std::string m_fault;
};

} // namespace pagewren::leafpress

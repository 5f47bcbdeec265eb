#pragma once

#include "scan/ScanDriver.h"

#include <memory>

namespace pagewren {

// The scanners of this machine through SANE.
//
// Capabilities map onto the backend's options: pixel type onto "mode" (lineart 0, grey 1,
// colour 2), bit depth onto "depth", resolution onto "x-resolution"/"y-resolution" or
// "resolution", the feeder onto the "source" entry that names a document feeder, feeder loaded
// and paper detectable onto a paper sensor ("page-loaded", "adf-loaded"), auto-feed and
// auto-scan onto "batch-scan" or else the feeder source. Anything else is not supported.
//
// A flatbed gives one page per batch; a feeder gives pages until SANE reports that it holds no
// more documents. Failures carry SANE's status code as their condition code and SANE's text.
class SaneDriver : public ScanDriver {
public:
    SaneDriver();
    ~SaneDriver() override;
    SaneDriver(const SaneDriver&) = delete;
    SaneDriver& operator=(const SaneDriver&) = delete;

    // The name shown for a device: vendor and model, then the SANE device name that keeps two
    // scanners of one model apart, as in "Noname frontend-tester (test:0)".
    static std::string displayName(const std::string& vendor, const std::string& model,
                                   const std::string& device);

    void openManager() override;
    void closeManager() noexcept override;
    bool isManagerOpen() const override;
    std::vector<std::string> sourceNames() override;
    void openSource(const std::string& name) override;
    void closeSource() noexcept override;
    std::string openSourceName() const override;
    std::optional<std::vector<std::uint16_t>> supportedCapabilities() override;
    std::optional<double> readCapability(std::uint16_t cap) override;
    bool writeCapability(std::uint16_t cap, double value) override;
    std::unique_ptr<Bitmap> transferPage() override;
    int pendingPages() override;
    bool skipPage() override;
    void endBatch() noexcept override;
    std::vector<DeviceEvent> takeDeviceEvents() override;

private:
    struct Private;
    std::unique_ptr<Private> d;
};

} // namespace pagewren

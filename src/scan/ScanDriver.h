#pragma once

#include "scan/DeviceEvent.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace pagewren {

class Bitmap;

// One scanner API beneath the scanner component. Operations that fail throw ScanFailure.
//
// Threads: the component calls a driver from one thread at a time, but not always the same one
// (the user-interface thread opens sources and negotiates, a worker transfers pages).
class ScanDriver {
public:
    // Pages still pending after a transfer when the driver cannot tell how many.
    static constexpr int kUnknownPending = -1;

    virtual ~ScanDriver() = default;

    // The source manager must be open to list or open sources.
    virtual void openManager() = 0;
    virtual void closeManager() noexcept = 0;
    virtual bool isManagerOpen() const = 0;
    // Names to show the user, one per device and unique, in the manager's order.
    virtual std::vector<std::string> sourceNames() = 0;

    virtual void openSource(const std::string& name) = 0;
    // Ends any batch and closes the open source, if any.
    virtual void closeSource() noexcept = 0;
    // The name the open source was opened with; empty when none is open.
    virtual std::string openSourceName() const = 0;

    // Capabilities of the open source, by TWAIN code. Booleans are 0 and 1. nullopt from
    // supportedCapabilities means the source keeps no such list.
    virtual std::optional<std::vector<std::uint16_t>> supportedCapabilities() = 0;
    // nullopt when the source does not answer.
    virtual std::optional<double> readCapability(std::uint16_t cap) = 0;
    // false when the source refuses the value.
    virtual bool writeCapability(std::uint16_t cap, double value) = 0;

    // The next page, or nullptr when the source has no more pages.
    virtual std::unique_ptr<Bitmap> transferPage() = 0;
    // Pages still pending after the last transfer: 0 when none, kUnknownPending when the source
    // may hold more but cannot count them.
    virtual int pendingPages() = 0;
    // Drops the next pending page; false when there was none.
    virtual bool skipPage() = 0;
    // Drops whatever is still pending and ends the batch.
    virtual void endBatch() noexcept = 0;

    // Device events reported since the last call.
    virtual std::vector<DeviceEvent> takeDeviceEvents() = 0;
};

} // namespace pagewren

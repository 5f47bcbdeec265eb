#pragma once

#include "image/Bitmap.h"
#include "scan/ScanDriver.h"
#include "scan/ScanFailure.h"

#include <deque>
#include <map>
#include <mutex>
#include <set>
#include <thread>
#include <variant>

namespace pagewren {

// A scanner that does what it is told: the sources it lists, the capabilities it supports with
// their current values, the sets it refuses and the reads it fails, and the pages, failed
// transfers and device events of its feeder, in order. It records every request it receives.
// Used by tests and on machines where every case must be shown without hardware.
//
// Script it before handing it to the component; read its record once the component is idle.
class SimulatedDriver : public ScanDriver {
public:
    SimulatedDriver() = default;

    // What it lists and how it fails to open.
    void addSource(const std::string& name);
    void failManager(const ScanFailure& failure);
    void failOpen(const ScanFailure& failure);

    // Capabilities: the supported list (nullopt: no list kept), current values, refusals.
    void setSupportedCapabilities(std::optional<std::vector<std::uint16_t>> caps);
    void setValue(std::uint16_t cap, double value);
    void refuseSet(std::uint16_t cap);
    void failRead(std::uint16_t cap);

    // The feeder, in order.
    void addPage(Bitmap page);
    void addFailedTransfer(const ScanFailure& failure);
    void addDeviceEvent(const DeviceEvent& event);
    // When false, pendingPages answers kUnknownPending until a transfer finds the feeder empty.
    void setPendingKnown(bool known);

    // The record. Capability requests read "get CAP" and "set CAP value"; the rest "open NAME",
    // "close", "transfer", "skip", "end batch".
    std::vector<std::string> requests() const;
    // Only the capability requests, in order.
    std::vector<std::string> capabilityRequests() const;
    std::optional<double> value(std::uint16_t cap) const;
    // Threads that transferred or skipped pages.
    std::set<std::thread::id> transferThreads() const;
    int pagesLeft() const;

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
    using Item = std::variant<Bitmap, ScanFailure, DeviceEvent>;

    void record(const std::string& line);
    // Moves leading device events to m_events; true when a page or failure follows.
    bool advanceToTransfer();
    bool supports(std::uint16_t cap) const;

    mutable std::mutex m_mutex;
    std::vector<std::string> m_sources;
    std::optional<ScanFailure> m_managerFailure;
    std::optional<ScanFailure> m_openFailure;
    std::optional<std::vector<std::uint16_t>> m_supported;
    std::map<std::uint16_t, double> m_values;
    std::set<std::uint16_t> m_refused;
    std::set<std::uint16_t> m_failingReads;
    std::deque<Item> m_feeder;
    std::vector<DeviceEvent> m_events;
    bool m_pendingKnown = true;
    bool m_feederEmptied = false;
    bool m_managerOpen = false;
    std::string m_openSource;
    std::vector<std::string> m_requests;
    std::set<std::thread::id> m_transferThreads;
};

} // namespace pagewren

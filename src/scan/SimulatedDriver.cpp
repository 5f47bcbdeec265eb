#include "scan/SimulatedDriver.h"

#include "scan/TwainConstants.h"

#include <algorithm>
#include <sstream>
#include <utility>

namespace pagewren {

namespace {

std::string numberText(double value)
{
    std::ostringstream text;
    text << value;
    return text.str();
}

ScanFailure notOpen()
{
    return ScanFailure(twain::DG_CONTROL, twain::DAT_IDENTITY, twain::MSG_GET, twain::TWRC_FAILURE,
                       twain::TWCC_SEQERROR, "No source is open");
}

} // namespace

void SimulatedDriver::addSource(const std::string& name)
{
    std::lock_guard lock(m_mutex);
    m_sources.push_back(name);
}

void SimulatedDriver::failManager(const ScanFailure& failure)
{
    std::lock_guard lock(m_mutex);
    m_managerFailure = failure;
}

void SimulatedDriver::failOpen(const ScanFailure& failure)
{
    std::lock_guard lock(m_mutex);
    m_openFailure = failure;
}

void SimulatedDriver::setSupportedCapabilities(std::optional<std::vector<std::uint16_t>> caps)
{
    std::lock_guard lock(m_mutex);
    m_supported = std::move(caps);
}

void SimulatedDriver::setValue(std::uint16_t cap, double value)
{
    std::lock_guard lock(m_mutex);
    m_values[cap] = value;
}

void SimulatedDriver::refuseSet(std::uint16_t cap)
{
    std::lock_guard lock(m_mutex);
    m_refused.insert(cap);
}

void SimulatedDriver::failRead(std::uint16_t cap)
{
    std::lock_guard lock(m_mutex);
    m_failingReads.insert(cap);
}

void SimulatedDriver::addPage(Bitmap page)
{
    std::lock_guard lock(m_mutex);
    m_feeder.emplace_back(std::move(page));
    m_feederEmptied = false;
}

void SimulatedDriver::addFailedTransfer(const ScanFailure& failure)
{
    std::lock_guard lock(m_mutex);
    m_feeder.emplace_back(failure);
    m_feederEmptied = false;
}

void SimulatedDriver::addDeviceEvent(const DeviceEvent& event)
{
    std::lock_guard lock(m_mutex);
    m_feeder.emplace_back(event);
}

void SimulatedDriver::setPendingKnown(bool known)
{
    std::lock_guard lock(m_mutex);
    m_pendingKnown = known;
}

std::vector<std::string> SimulatedDriver::requests() const
{
    std::lock_guard lock(m_mutex);
    return m_requests;
}

std::vector<std::string> SimulatedDriver::capabilityRequests() const
{
    std::lock_guard lock(m_mutex);
    std::vector<std::string> result;
    std::copy_if(m_requests.begin(), m_requests.end(), std::back_inserter(result),
                 [](const std::string& line) {
                     return line.starts_with("get ") || line.starts_with("set ");
                 });
    return result;
}

std::optional<double> SimulatedDriver::value(std::uint16_t cap) const
{
    std::lock_guard lock(m_mutex);
    const auto found = m_values.find(cap);
    if (found == m_values.end())
        return std::nullopt;
    return found->second;
}

std::set<std::thread::id> SimulatedDriver::transferThreads() const
{
    std::lock_guard lock(m_mutex);
    return m_transferThreads;
}

int SimulatedDriver::pagesLeft() const
{
    std::lock_guard lock(m_mutex);
    return static_cast<int>(std::count_if(m_feeder.begin(), m_feeder.end(), [](const Item& item) {
        return !std::holds_alternative<DeviceEvent>(item);
    }));
}

void SimulatedDriver::openManager()
{
    std::lock_guard lock(m_mutex);
    if (m_managerFailure)
        throw *m_managerFailure;
    m_managerOpen = true;
}

void SimulatedDriver::closeManager() noexcept
{
    std::lock_guard lock(m_mutex);
    m_managerOpen = false;
}

bool SimulatedDriver::isManagerOpen() const
{
    std::lock_guard lock(m_mutex);
    return m_managerOpen;
}

std::vector<std::string> SimulatedDriver::sourceNames()
{
    std::lock_guard lock(m_mutex);
    if (!m_managerOpen)
        throw ScanFailure(twain::DG_CONTROL, twain::DAT_IDENTITY, twain::MSG_GETFIRST,
                          twain::TWRC_FAILURE, twain::TWCC_SEQERROR, "The manager is not open");
    return m_sources;
}

void SimulatedDriver::openSource(const std::string& name)
{
    std::lock_guard lock(m_mutex);
    if (m_openFailure)
        throw *m_openFailure;
    if (std::find(m_sources.begin(), m_sources.end(), name) == m_sources.end())
        throw ScanFailure(twain::DG_CONTROL, twain::DAT_IDENTITY, twain::MSG_OPENDS,
                          twain::TWRC_FAILURE, twain::TWCC_NODS, "No source named " + name);
    m_openSource = name;
    m_requests.push_back("open " + name);
}

void SimulatedDriver::closeSource() noexcept
{
    std::lock_guard lock(m_mutex);
    if (m_openSource.empty())
        return;
    m_openSource.clear();
    m_requests.emplace_back("close");
}

std::string SimulatedDriver::openSourceName() const
{
    std::lock_guard lock(m_mutex);
    return m_openSource;
}

bool SimulatedDriver::supports(std::uint16_t cap) const
{
    return !m_supported ||
           std::find(m_supported->begin(), m_supported->end(), cap) != m_supported->end();
}

std::optional<std::vector<std::uint16_t>> SimulatedDriver::supportedCapabilities()
{
    std::lock_guard lock(m_mutex);
    return m_supported;
}

std::optional<double> SimulatedDriver::readCapability(std::uint16_t cap)
{
    std::lock_guard lock(m_mutex);
    m_requests.push_back("get " + twain::capabilityName(cap));
    if (m_openSource.empty() || !supports(cap) || m_failingReads.contains(cap))
        return std::nullopt;
    const auto found = m_values.find(cap);
    if (found == m_values.end())
        return std::nullopt;
    return found->second;
}

bool SimulatedDriver::writeCapability(std::uint16_t cap, double value)
{
    std::lock_guard lock(m_mutex);
    m_requests.push_back("set " + twain::capabilityName(cap) + " " + numberText(value));
    if (m_openSource.empty() || !supports(cap) || m_refused.contains(cap))
        return false;
    m_values[cap] = value;
    return true;
}

bool SimulatedDriver::advanceToTransfer()
{
    while (!m_feeder.empty() && std::holds_alternative<DeviceEvent>(m_feeder.front())) {
        m_events.push_back(std::get<DeviceEvent>(m_feeder.front()));
        m_feeder.pop_front();
    }
    if (m_feeder.empty())
        m_feederEmptied = true;
    return !m_feeder.empty();
}

std::unique_ptr<Bitmap> SimulatedDriver::transferPage()
{
    std::lock_guard lock(m_mutex);
    m_requests.emplace_back("transfer");
    m_transferThreads.insert(std::this_thread::get_id());
    if (m_openSource.empty())
        throw notOpen();
    if (!advanceToTransfer())
        return nullptr;
    Item item = std::move(m_feeder.front());
    m_feeder.pop_front();
    if (auto* failure = std::get_if<ScanFailure>(&item))
        throw *failure;
    return std::make_unique<Bitmap>(std::move(std::get<Bitmap>(item)));
}

int SimulatedDriver::pendingPages()
{
    std::lock_guard lock(m_mutex);
    const auto pages = std::count_if(m_feeder.begin(), m_feeder.end(), [](const Item& item) {
        return !std::holds_alternative<DeviceEvent>(item);
    });
    if (!m_pendingKnown)
        return m_feederEmptied ? 0 : kUnknownPending;
    return static_cast<int>(pages);
}

bool SimulatedDriver::skipPage()
{
    std::lock_guard lock(m_mutex);
    m_requests.emplace_back("skip");
    m_transferThreads.insert(std::this_thread::get_id());
    if (!advanceToTransfer())
        return false;
    m_feeder.pop_front();
    return true;
}

void SimulatedDriver::endBatch() noexcept
{
    std::lock_guard lock(m_mutex);
    m_requests.emplace_back("end batch");
    std::erase_if(m_feeder,
                  [](const Item& item) { return !std::holds_alternative<DeviceEvent>(item); });
}

std::vector<DeviceEvent> SimulatedDriver::takeDeviceEvents()
{
    std::lock_guard lock(m_mutex);
    return std::exchange(m_events, {});
}

} // namespace pagewren

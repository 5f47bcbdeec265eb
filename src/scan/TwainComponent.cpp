#include "scan/TwainComponent.h"

#include "image/Bitmap.h"
#include "scan/ScanDriver.h"
#include "scan/ScanFailure.h"
#include "scan/TwainConstants.h"

#include <QMetaObject>
#include <QtGlobal>

#include <algorithm>
#include <cmath>

namespace pagewren {

namespace {

ScanFailure unexpectedFailure(const std::exception& error)
{
    return ScanFailure(twain::DG_IMAGE, twain::DAT_IMAGENATIVEXFER, twain::MSG_GET,
                       twain::TWRC_FAILURE, twain::TWCC_BUMMER, error.what());
}

// A handler's exception must not unwind through the event loop or the worker.
template <typename F>
void guarded(const char* event, F&& call)
{
    try {
        call();
    } catch (const std::exception& error) {
        qWarning("Scanner event %s failed: %s", event, error.what());
    } catch (...) {
        qWarning("Scanner event %s failed", event);
    }
}

} // namespace

TwainComponent::TwainComponent(std::unique_ptr<ScanDriver> driver, QObject* parent)
    : QObject(parent), m_driver(std::move(driver))
{
}

TwainComponent::~TwainComponent()
{
    {
        std::lock_guard lock(m_mutex);
        m_stopping = true;
    }
    m_answered.notify_all();
    if (m_worker.joinable())
        m_worker.join();
    closeAll();
}

void TwainComponent::GetSourceList(std::vector<std::string>& List)
{
    List.clear();
    if (m_busy)
        throw ScanFailure(twain::DG_CONTROL, twain::DAT_IDENTITY, twain::MSG_GETFIRST,
                          twain::TWRC_FAILURE, twain::TWCC_SEQERROR,
                          "The scanners cannot be listed while a scan is running");
    const bool wasOpen = m_driver->isManagerOpen();
    if (!wasOpen)
        m_driver->openManager();
    try {
        List = m_driver->sourceNames();
    } catch (...) {
        if (!wasOpen)
            m_driver->closeManager();
        throw;
    }
    if (!wasOpen)
        m_driver->closeManager();
}

bool TwainComponent::OpenSource(const std::string& ProductName)
{
    if (m_busy)
        return false;
    try {
        openChosenSource(ProductName);
        return true;
    } catch (const ScanFailure& failure) {
        closeAll();
        callFailure(failure);
    } catch (const std::exception& error) {
        closeAll();
        callFailure(unexpectedFailure(error));
    }
    return false;
}

void TwainComponent::CloseSource()
{
    if (!m_busy)
        closeAll();
}

bool TwainComponent::Acquire(const std::string& ProductName)
{
    if (m_busy)
        return false;
    m_busy = true;
    {
        std::lock_guard lock(m_mutex);
        m_stopping = false;
    }
    m_worker =
        std::thread(&TwainComponent::runAcquisition, this,
                    Settings{ProductName, ShowIndicators, DisableAfterAcquire, DeviceEvents});
    return true;
}

void TwainComponent::runAcquisition(const Settings& settings)
{
    bool closeAtEnd = settings.disableAfterAcquire;
    bool stopped = false;
    try {
        openChosenSource(settings.productName);
        bool cancel = false;
        stopped = !raise([this, &cancel] {
            if (OnNegotiation)
                guarded("OnNegotiation", [&] { OnNegotiation(*this, cancel); });
        });
        if (cancel) {
            closeAtEnd = true;
        } else if (!stopped) {
            if (!settings.showIndicators && supports(twain::CAP_INDICATORS))
                m_driver->writeCapability(twain::CAP_INDICATORS, 0);
            stopped = !transferPages(settings);
        }
    } catch (const ScanFailure& failure) {
        closeAtEnd = true;
        stopped = !raise([this, &failure] { callFailure(failure); });
    } catch (const std::exception& error) {
        closeAtEnd = true;
        const ScanFailure failure = unexpectedFailure(error);
        stopped = !raise([this, &failure] { callFailure(failure); });
    }
    m_driver->endBatch();
    if (closeAtEnd || stopped)
        closeAll();
    QMetaObject::invokeMethod(this, &TwainComponent::finishAcquisition, Qt::QueuedConnection);
}

bool TwainComponent::transferPages(const Settings& settings)
{
    bool skip = false;
    for (;;) {
        std::unique_ptr<Bitmap> page;
        std::optional<ScanFailure> failure;
        bool empty = false;
        try {
            if (skip) {
                empty = !m_driver->skipPage();
            } else {
                page = m_driver->transferPage();
                empty = !page;
            }
        } catch (const ScanFailure& error) {
            failure = error;
        } catch (const std::exception& error) {
            failure = unexpectedFailure(error);
        }
        if (!raiseDeviceEvents(settings.deviceEvents))
            return false;
        if (failure && !raise([this, &failure] { callFailure(*failure); }))
            return false;
        // A skipped, failed or missing page is a transfer without a page.
        if (!raise([this, &page] {
                if (OnImageReady)
                    guarded("OnImageReady", [&] { OnImageReady(*this, std::move(page)); });
            }))
            return false;

        const int pending = empty ? 0 : m_driver->pendingPages();
        int numImages = pending;
        skip = false;
        if (!raise([this, &numImages, &skip] {
                if (OnXferNext)
                    guarded("OnXferNext", [&] { OnXferNext(*this, numImages, skip); });
            }))
            return false;
        if (pending == 0 || numImages == 0)
            return true; // the caller ends the batch, dropping what is still pending
    }
}

void TwainComponent::finishAcquisition()
{
    if (m_worker.joinable())
        m_worker.join();
    m_busy = false;
    emit acquireFinished();
}

bool TwainComponent::raise(std::function<void()> call)
{
    struct Pending {
        std::function<void()> call;
        bool done = false;
    };
    auto pending = std::make_shared<Pending>();
    pending->call = std::move(call);
    QMetaObject::invokeMethod(
        this,
        [this, pending] {
            m_inEvent = true;
            pending->call();
            m_inEvent = false;
            {
                std::lock_guard lock(m_mutex);
                pending->done = true;
            }
            m_answered.notify_all();
        },
        Qt::QueuedConnection);
    std::unique_lock lock(m_mutex);
    m_answered.wait(lock, [&] { return pending->done || m_stopping; });
    return pending->done;
}

bool TwainComponent::raiseDeviceEvents(const std::set<int>& selected)
{
    for (const DeviceEvent& event : m_driver->takeDeviceEvents()) {
        if (!selected.contains(event.Event))
            continue;
        const bool raised = raise([this, &event] {
            if (OnDeviceEvent)
                guarded("OnDeviceEvent", [&] {
                    OnDeviceEvent(*this, event.Event, event.DeviceName, event.A, event.B, event.C);
                });
        });
        if (!raised)
            return false;
    }
    return true;
}

void TwainComponent::callFailure(const ScanFailure& failure)
{
    if (!OnFailure)
        return;
    guarded("OnFailure", [&] {
        OnFailure(*this, failure.dg(), failure.dat(), failure.cap(), failure.msg(),
                  failure.errorCode(), failure.status(), failure.what());
    });
}

void TwainComponent::openChosenSource(const std::string& name)
{
    if (!m_driver->isManagerOpen())
        m_driver->openManager();
    // Listing sources can take seconds (network scanners); the current choice needs none.
    if (name.empty() || name != m_chosenSource) {
        const auto names = m_driver->sourceNames();
        if (std::find(names.begin(), names.end(), name) != names.end())
            m_chosenSource = name;
    }
    if (m_chosenSource.empty())
        throw ScanFailure(twain::DG_CONTROL, twain::DAT_IDENTITY, twain::MSG_OPENDS,
                          twain::TWRC_FAILURE, twain::TWCC_NODS,
                          name.empty() ? "No scanner has been chosen"
                                       : "No scanner named " + name + " is installed");
    if (m_driver->openSourceName() == m_chosenSource)
        return;
    m_driver->closeSource();
    m_containers.clear();
    m_supported.reset();
    m_driver->openSource(m_chosenSource);
    m_supported = m_driver->supportedCapabilities();
}

void TwainComponent::closeAll() noexcept
{
    m_driver->closeSource();
    m_driver->closeManager();
    m_containers.clear();
    m_supported.reset();
}

bool TwainComponent::reachable() const
{
    return (!m_busy || m_inEvent) && !m_driver->openSourceName().empty();
}

bool TwainComponent::supports(std::uint16_t cap) const
{
    return !m_supported ||
           std::find(m_supported->begin(), m_supported->end(), cap) != m_supported->end();
}

bool TwainComponent::IsCapSupported(std::uint16_t Cap)
{
    return !reachable() || supports(Cap);
}

std::optional<double> TwainComponent::read(std::uint16_t cap)
{
    if (!reachable())
        return std::nullopt;
    auto value = m_driver->readCapability(cap);
    if (value)
        m_containers.insert(cap);
    return value;
}

void TwainComponent::writeIfKnown(std::uint16_t cap, double value)
{
    if (reachable() && m_containers.contains(cap))
        m_driver->writeCapability(cap, value);
}

int TwainComponent::GetPixelType()
{
    const auto value = read(twain::ICAP_PIXELTYPE);
    return value ? static_cast<int>(std::lround(*value)) : -1;
}

void TwainComponent::SetPixelType(int Value)
{
    writeIfKnown(twain::ICAP_PIXELTYPE, Value);
}

int TwainComponent::GetBitDepth()
{
    const auto value = read(twain::ICAP_BITDEPTH);
    return value ? static_cast<int>(std::lround(*value)) : -1;
}

void TwainComponent::SetBitDepth(int Value)
{
    writeIfKnown(twain::ICAP_BITDEPTH, Value);
}

double TwainComponent::GetXResolution()
{
    return read(twain::ICAP_XRESOLUTION).value_or(-1.0);
}

void TwainComponent::SetXResolution(double Value)
{
    writeIfKnown(twain::ICAP_XRESOLUTION, Value);
}

double TwainComponent::GetYResolution()
{
    return read(twain::ICAP_YRESOLUTION).value_or(-1.0);
}

void TwainComponent::SetYResolution(double Value)
{
    writeIfKnown(twain::ICAP_YRESOLUTION, Value);
}

bool TwainComponent::SetAutoScan(bool Value)
{
    return reachable() && supports(twain::CAP_AUTOSCAN) &&
           m_driver->writeCapability(twain::CAP_AUTOSCAN, Value ? 1 : 0);
}

bool TwainComponent::setFeederCapability(std::uint16_t cap, bool value, bool keepsState)
{
    if (!keepsState && !m_feederEnabledState)
        return false;
    const auto current = IsCapSupported(cap) ? read(cap) : std::nullopt;
    if (!current) {
        if (keepsState)
            m_feederEnabledState = false;
        return false;
    }
    if (keepsState)
        m_feederEnabledState = *current != 0;
    if ((*current != 0) == value)
        return true;
    if (!m_driver->writeCapability(cap, value ? 1 : 0))
        return false;
    const auto after = read(cap);
    if (!after)
        return false;
    if (keepsState)
        m_feederEnabledState = *after != 0;
    return (*after != 0) == value;
}

bool TwainComponent::SetFeederEnabled(bool Value)
{
    return setFeederCapability(twain::CAP_FEEDERENABLED, Value, true);
}

bool TwainComponent::SetAutoFeed(bool Value)
{
    return setFeederCapability(twain::CAP_AUTOFEED, Value, false);
}

bool TwainComponent::GetFeederLoaded()
{
    if (!m_feederEnabledState)
        return false;
    const auto value = read(twain::CAP_FEEDERLOADED);
    return value && *value != 0;
}

bool TwainComponent::GetPaperDetectable()
{
    const auto value = read(twain::CAP_PAPERDETECTABLE);
    return value && *value != 0;
}

} // namespace pagewren

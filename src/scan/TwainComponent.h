#pragma once

#include <QObject>

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace pagewren {

class Bitmap;
class ScanDriver;
class ScanFailure;

// The scanner component: lists sources, acquires pages from one of them and negotiates its
// capabilities, over a ScanDriver that it owns.
//
// Threads: create it and call it on the user-interface thread. Acquire returns at once; the
// conversation with the scanner then runs on a worker thread, and every event is raised on the
// user-interface thread, one at a time, while the worker waits. Pages therefore arrive as that
// thread's event loop runs. The capability accessors reach the source while no acquisition runs
// and from inside event handlers; otherwise their requests fail.
class TwainComponent : public QObject {
    Q_OBJECT

public:
    // CancelScan in-out: true closes the source and the manager instead of scanning.
    using NegotiationEvent = std::function<void(TwainComponent& Sender, bool& CancelScan)>;
    // One page; nullptr when the transfer was cancelled or failed. The handler owns the page.
    using ImageEvent = std::function<void(TwainComponent& Sender, std::unique_ptr<Bitmap> hImage)>;
    // After every page. NumImages: pages still pending (0 after the last, negative when the
    // source cannot count them). SkipNext true drops the next pending page; NumImages set to 0
    // while pages are pending drops them all.
    using XferNextEvent =
        std::function<void(TwainComponent& Sender, int& NumImages, bool& SkipNext)>;
    // A failed operation: its data group, argument type, capability and message, the return and
    // condition codes, and the driver's description of the failure (may be empty).
    using FailureEvent = std::function<void(TwainComponent& Sender, std::uint32_t DG,
                                            std::uint16_t DAT, std::uint16_t CAP, std::uint16_t MSG,
                                            int Error, int Status, const std::string& Message)>;
    using DeviceEventHandler = std::function<void(
        TwainComponent& Sender, int Event, const std::string& DeviceName, int A, int B, int C)>;

    explicit TwainComponent(std::unique_ptr<ScanDriver> driver, QObject* parent = nullptr);
    // Stops a running acquisition (pending events are dropped) and closes the source.
    ~TwainComponent() override;

    NegotiationEvent OnNegotiation;
    ImageEvent OnImageReady;
    XferNextEvent OnXferNext;
    FailureEvent OnFailure;
    DeviceEventHandler OnDeviceEvent;

    // Whether the source shows its own dialog (no driver here has one).
    bool ShowUI = true;
    // Close the source and the manager after the last page.
    bool DisableAfterAcquire = false;
    // When false, CAP_INDICATORS is set to false where the source supports it.
    bool ShowIndicators = true;
    // Device events raised through OnDeviceEvent; none by default.
    std::set<int> DeviceEvents;

    // Clears List, then adds the names of all sources in the manager's order. Opens the manager
    // for this when it was not open, and closes it again. Throws ScanFailure when the sources
    // cannot be listed, also while an acquisition runs.
    void GetSourceList(std::vector<std::string>& List);

    // Opens the manager and the source with exactly that name; no match keeps the previous
    // choice. Lets capability requests reach the source before Acquire. A failure is raised
    // through OnFailure, closes what was opened and gives false; so does a running acquisition.
    bool OpenSource(const std::string& ProductName);
    // Closes the source and the manager unless an acquisition runs.
    void CloseSource();

    // Opens the source as OpenSource does (an open source of that name is kept), raises
    // OnNegotiation, then transfers pages. Returns at once: false when an acquisition already
    // runs. A failure to open the source is raised through OnFailure.
    bool Acquire(const std::string& ProductName);
    bool IsBusy() const { return m_busy; }

    // Capability accessors. A read that fails gives -1 (-1.0); a set of these four is sent only
    // after a read of the same capability succeeded on the open source.
    bool IsCapSupported(std::uint16_t Cap);
    int GetPixelType();
    void SetPixelType(int Value);
    int GetBitDepth();
    void SetBitDepth(int Value);
    double GetXResolution();
    void SetXResolution(double Value);
    double GetYResolution();
    void SetYResolution(double Value);
    bool SetAutoScan(bool Value);
    bool SetFeederEnabled(bool Value);
    bool SetAutoFeed(bool Value);
    bool GetFeederLoaded();
    bool GetPaperDetectable();
    // What the last SetFeederEnabled found the feeder to be; false until then.
    bool FeederEnabledState() const { return m_feederEnabledState; }

signals:
    // An acquisition has ended and the component is idle again.
    void acquireFinished();

private:
    struct Settings {
        std::string productName;
        bool showIndicators;
        bool disableAfterAcquire;
        std::set<int> deviceEvents;
    };

    void runAcquisition(const Settings& settings);
    // The page loop; false when the component is being destroyed.
    bool transferPages(const Settings& settings);
    void finishAcquisition();
    // Runs call on the user-interface thread and waits for it; false when the component is
    // being destroyed and the call was dropped.
    bool raise(std::function<void()> call);
    bool raiseDeviceEvents(const std::set<int>& selected);
    void callFailure(const ScanFailure& failure);
    void openChosenSource(const std::string& name);
    void closeAll() noexcept;
    bool reachable() const;
    bool supports(std::uint16_t cap) const;
    std::optional<double> read(std::uint16_t cap);
    void writeIfKnown(std::uint16_t cap, double value);
    bool setFeederCapability(std::uint16_t cap, bool value, bool keepsState);

    std::unique_ptr<ScanDriver> m_driver;
    std::string m_chosenSource;
    std::optional<std::vector<std::uint16_t>> m_supported;
    // Capabilities read successfully on the open source; only these are ever set.
    std::set<std::uint16_t> m_containers;
    bool m_feederEnabledState = false;
    bool m_busy = false;
    bool m_inEvent = false;

    std::thread m_worker;
    std::mutex m_mutex;
    std::condition_variable m_answered;
    bool m_stopping = false;
};

} // namespace pagewren

#include "scan/VMKScan.h"

#include "image/Bitmap.h"
#include "image/PackBitsTiff.h"
#include "platform/Prompts.h"
#include "scan/CapabilityPolicy.h"
#include "scan/TwainComponent.h"
#include "util/Error.h"

#include <QFile>
#include <QString>

#include <filesystem>
#include <limits>
#include <system_error>

namespace pagewren {

namespace fs = std::filesystem;

namespace {

// The two lines of the confirmation box are parted the way the platform's message box expects.
#ifdef _WIN32
constexpr const char* kLineBreak = "\r\n";
#else
constexpr const char* kLineBreak = "\n";
#endif

std::string str(std::int64_t value)
{
    return std::to_string(value);
}

// The folder as a path the file system accepts: a trailing separator would make a file named
// like the folder look missing.
fs::path folderPath(const std::string& folder, char separator)
{
    std::string path = folder;
    while (path.size() > 1 && (path.back() == separator || path.back() == '/'))
        path.pop_back();
    return fs::path(path);
}

QString qtPath(const std::string& path)
{
    return QString::fromStdString(path);
}

} // namespace

TVMKScan::TVMKScan(TwainComponent& twain, Prompts& prompts)
    : Twain(twain), m_prompts(prompts), FileDir(PathStyle::Native)
{
    Twain.OnNegotiation = [this](TwainComponent& sender, bool& cancel) {
        twainNegotiation(sender, cancel);
    };
    Twain.OnImageReady = [this](TwainComponent& sender, std::unique_ptr<Bitmap> image) {
        twainImageReady(sender, std::move(image));
    };
    Twain.OnFailure = [this](TwainComponent& sender, std::uint32_t dg, std::uint16_t dat,
                             std::uint16_t cap, std::uint16_t msg, int error, int status,
                             const std::string& message) {
        twainFailure(sender, dg, dat, cap, msg, error, status, message);
    };
    Twain.OnXferNext = [this](TwainComponent& sender, int& numImages, bool& skipNext) {
        twainXferNext(sender, numImages, skipNext);
    };
    Twain.OnDeviceEvent = [this](TwainComponent& sender, int event, const std::string& device,
                                 int a, int b,
                                 int c) { twainDeviceEvent(sender, event, device, a, b, c); };
}

TVMKScan::~TVMKScan()
{
    Twain.OnNegotiation = nullptr;
    Twain.OnImageReady = nullptr;
    Twain.OnFailure = nullptr;
    Twain.OnXferNext = nullptr;
    Twain.OnDeviceEvent = nullptr;
}

std::string TVMKScan::zeroPad(std::int64_t Value, int Width)
{
    std::string text = std::to_string(Value);
    if (static_cast<int>(text.size()) < Width)
        text.insert(0, static_cast<std::size_t>(Width) - text.size(), '0');
    return text;
}

std::string TVMKScan::deviceEventName(int Event)
{
    static const char* const names[] = {
        "TWDE_CHECKAUTOMATICCAPTURE",
        "TWDE_CHECKBATTERY",
        "",
        "TWDE_CHECKFLASH",
        "TWDE_CHECKPOWERSUPPLY",
        "TWDE_CHECKRESOLUTION",
        "TWDE_DEVICEADDED",
        "TWDE_DEVICEOFFLINE",
        "TWDE_DEVICEREADY",
        "TWDE_DEVICEREMOVED",
        "TWDE_IMAGECAPTURED",
        "TWDE_IMAGEDELETED",
        "TWDE_PAPERDOUBLEFEED",
        "TWDE_PAPERJAM",
        "TWDE_LAMPFAILURE",
        "TWDE_POWERSAVE",
        "TWDE_POWERSAVENOTIFY",
    };
    if (Event < 0 || Event >= static_cast<int>(std::size(names)))
        return "";
    return names[Event];
}

std::string TVMKScan::confirmationText()
{
    return std::string("Set the document in the scanner.  Once the document has been set,  "
                       "click \"Yes\" or click \"No\" to cancel.") +
           kLineBreak + "Are you ready?";
}

void TVMKScan::status(const std::string& text)
{
    if (OnStatus)
        OnStatus(*this, text);
}

void TVMKScan::reportError(const std::exception& error, const std::string& origin)
{
    if (!OnError)
        return;
    try {
        OnError(*this, error, origin);
    } catch (...) {
        // The owner's handler failing must not turn into a failure of the session.
    }
}

void TVMKScan::scan(const std::string& Folder, std::int32_t Limit)
{
    // Asked again while the confirmation is open, or while pages still arrive.
    if (m_inScan || Twain.IsBusy()) {
        reportError(Error("A scan is already running."), "TVMKScan.scan");
        return;
    }
    m_inScan = true;
    struct Leave {
        bool& flag;
        ~Leave() { flag = false; }
    } leave{m_inScan};

    bool sourceOpen = false;
    try {
        MaxImages = Limit;
        if (!Folder.empty())
            ScanFolder = Folder;
        const fs::path folder = folderPath(ScanFolder, FileDir.separator());
        std::error_code ec;
        if (!ScanFolder.empty() && fs::exists(folder, ec) && !fs::is_directory(folder, ec))
            throw Error(ScanFolder + " is a file and not a directory.");
        if (!ScanFolder.empty())
            fs::create_directories(folder, ec);
        if (ScanFolder.empty() || !fs::is_directory(folder, ec))
            throw Error("Directory " + ScanFolder +
                        " does not exist.  Scanning of images cancelled.");

        if (!m_prompts.confirm("Confirm", confirmationText())) {
            status("Acquiring Image canceled by user");
            return;
        }

        // The feeder requests below must reach the source, so it is opened first. A failure
        // has been reported through the component.
        if (!Twain.OpenSource(SourceName))
            return;
        sourceOpen = true;

        if (ResetCountersOnScan)
            resetCounters();
        if (OnScanStart)
            OnScanStart(*this);

        const auto existing =
            FileDir.GetFileList(FileDir.EnsureTrailingBackslash(ScanFolder) + "*.tif", false);
        ImagesInPath = static_cast<std::int32_t>(
            std::min<std::size_t>(existing.size(), std::numeric_limits<std::int32_t>::max()));
        if (ImagesInPath == 0)
            status("Beginning Document Scan to path " + ScanFolder);
        else
            status("Beginning Document Scan.  There are already " + str(ImagesInPath) +
                   " image(s) in path " + ScanFolder);

        WaitCount = 0;
        status("-Acquiring Image from Scanner...");

        if (!RequestFeeder(Twain))
            status("-Auto Feed could not be set,  auto feed will be disabled for this run.");

        Twain.ShowUI = false;
        Twain.DisableAfterAcquire = true;
        Twain.ShowIndicators = false;
        if (!Twain.Acquire(SourceName))
            throw Error("A scan is already running.");
        sourceOpen = false; // the acquisition closes it
        Processing = false;
    } catch (const std::exception& E) {
        if (sourceOpen)
            Twain.CloseSource();
        reportError(E, "TVMKScan.scan");
    }
}

const StringList& TVMKScan::getSourceList()
{
    try {
        StringList names;
        Twain.GetSourceList(names);
        SourceList.clear();
        SourceList.insert(SourceList.end(), names.begin(), names.end());
    } catch (const std::exception& E) {
        reportError(E, "TVMKScan.getSourceList");
    }
    return SourceList;
}

void TVMKScan::setSourceName(const std::string& Name)
{
    SourceName = Name;
    resolveDefaultSource();
}

void TVMKScan::resolveDefaultSource()
{
    try {
        getSourceList();
        if (SourceName.empty())
            return;
        // Each entry is tested against the name as completed so far.
        for (const std::string& entry : SourceList)
            if (entry.find(SourceName) != std::string::npos)
                SourceName = entry;
    } catch (const std::exception& E) {
        reportError(E, "TVMKScan.resolveDefaultSource");
    }
}

void TVMKScan::resetCounters()
{
    ImagesScanned = 0;
    ImagesInPath = 0;
}

void TVMKScan::twainNegotiation(TwainComponent& Sender, bool& CancelScan)
{
    NegotiateScanCapabilities(Sender);
    if (PaperCheckCancels(Sender)) {
        CancelScan = true;
        // Nothing will arrive: end the scan so the owner does not wait for pages.
        status("-No document in the feeder.  Scanning of images cancelled.");
        completeScan();
    }
}

void TVMKScan::twainImageReady(TwainComponent& /*Sender*/, std::unique_ptr<Bitmap> hImage)
{
    if (!hImage) {
        status("Handle from TWAIN Device = 0. All Images Acquired (Images acquired:" +
               str(ImagesScanned) + "  in Path:" + str(ImagesInPath) + ")");
        return;
    }
    try {
        ImagesScanned += 1;
        Processing = true;
        if (OnImageAcquired)
            OnImageAcquired(*this, *hImage);
        // Nobody keeps the page: it is done with, and the next one may come.
        if (!OnImageSaved) {
            Processing = false;
            return;
        }
        ImagesInPath += 1;
        status("Processing image " + str(ImagesScanned));

        const fs::path folder = folderPath(ScanFolder, FileDir.separator());
        if (!fs::exists(folder))
            fs::create_directory(folder);
        ScanFolder = FileDir.EnsureTrailingBackslash(ScanFolder);

        const std::string fileName = savePage(*hImage);
        if (OnImageSaved)
            OnImageSaved(*this, fileName);
        Processing = false;
        status("Image " + str(ImagesScanned) + " has been scanned. ");
    } catch (const std::exception& E) {
        reportError(E, "TVMKScan.twainImageReady");
    }
}

std::string TVMKScan::pageFileName(std::int32_t number) const
{
    return ScanFolder + "img_" + zeroPad(number, 3) + ".tif";
}

std::string TVMKScan::savePage(const Bitmap& page)
{
    const auto nextFree = [this] {
        std::error_code ec;
        while (fs::exists(pageFileName(ImagesInPath), ec)) {
            if (ImagesInPath == std::numeric_limits<std::int32_t>::max())
                throw Error("There is no free page number left in " + ScanFolder);
            ++ImagesInPath;
        }
    };
    nextFree();
    status("Saving TIF Image of image " + str(ImagesScanned) + " (Images in path " +
           str(ImagesInPath) + ")");

    // A page is never left half written under its real name: it is written aside and then
    // renamed, and the rename never replaces a file that appeared meanwhile.
    const std::string temporary = ScanFolder + ".img_" + zeroPad(ImagesInPath, 3) + ".tif.part";
    try {
        SavePackBitsTiff(page, temporary);
        for (;;) {
            const std::string fileName = pageFileName(ImagesInPath);
            if (QFile::rename(qtPath(temporary), qtPath(fileName)))
                return fileName;
            std::error_code ec;
            if (!fs::exists(fileName, ec))
                throw Error("Could not save the page as " + fileName);
            nextFree();
        }
    } catch (...) {
        std::error_code ec;
        fs::remove(temporary, ec);
        throw;
    }
}

void TVMKScan::completeScan()
{
    status("Scanning has completed.");
    if (OnScanComplete)
        OnScanComplete(*this);
}

void TVMKScan::twainXferNext(TwainComponent& /*Sender*/, int& NumImages, bool& SkipNext)
{
    try {
        if (NumImages == 0) {
            completeScan();
            return;
        }
        SkipNext = ImagesScanned >= MaxImages;
        if (Processing) {
            // The last page could not be saved: stop at once instead of feeding pages that
            // would meet the same fate, and end the scan.
            NumImages = 0;
            Processing = false;
            reportError(Error("Scanning stopped because image " + str(ImagesScanned) +
                              " could not be saved.  The remaining images were not scanned."),
                        "TVMKScan.twainXferNext");
            completeScan();
        }
    } catch (const std::exception& E) {
        reportError(E, "TVMKScan.twainXferNext");
    }
}

void TVMKScan::twainFailure(TwainComponent& /*Sender*/, std::uint32_t DG, std::uint16_t DAT,
                            std::uint16_t CAP, std::uint16_t MSG, int Error, int Status,
                            const std::string& Message)
{
    if (!OnError)
        return;
    // The driver's own words, when it has any, go before the codes.
    const std::string text = "Scanner " + SourceName + " has reported an error. " +
                             (Message.empty() ? "" : Message + ". ") + "Error Code=" + str(Error) +
                             "  Status Code=" + str(Status) + "   DG=" + str(DG) +
                             " DAT=" + str(DAT) + " CAP=" + str(CAP) + " MSG=" + str(MSG);
    reportError(pagewren::Error(text), "TWAINFailure");
}

void TVMKScan::twainDeviceEvent(TwainComponent& /*Sender*/, int Event,
                                const std::string& /*DeviceName*/, int A, int B, int C)
{
    status("OnDeviceEvent:" + deviceEventName(Event) + "  A=" + str(A) + "  B=" + str(B) +
           "  C=" + str(C));
}

} // namespace pagewren

#pragma once

#include "util/FileDir.h"

#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <string>

namespace pagewren {

class Bitmap;
class Prompts;
class TwainComponent;

// The scanner session: the one object through which the program scans. It keeps the chosen
// source and the list of installed ones, asks the user to place the document, starts an
// acquisition on the component and writes every page as "img_NNN.tif" into the scan folder,
// telling its owner through optional callbacks (an unassigned one is skipped).
//
// It never lets a failure escape: each goes to OnError with the name of the operation that met
// it. Use it on the user-interface thread only; pages arrive after scan has returned, as that
// thread's event loop runs.
class TVMKScan {
public:
    using NotifyEvent = std::function<void(TVMKScan& Sender)>;
    using StatusEvent = std::function<void(TVMKScan& Sender, const std::string& Text)>;
    using ImageSavedEvent = std::function<void(TVMKScan& Sender, const std::string& FilePath)>;
    // The page is lent for the call.
    using ImageAcquiredEvent = std::function<void(TVMKScan& Sender, const Bitmap& hImage)>;
    // The error is lent for the call.
    using ErrorEvent =
        std::function<void(TVMKScan& Sender, const std::exception& E, const std::string& Origin)>;

    // Installs the session's handlers on the component; both are borrowed and must outlive it.
    TVMKScan(TwainComponent& Twain, Prompts& prompts);
    // Takes the session's handlers off the component.
    ~TVMKScan();
    TVMKScan(const TVMKScan&) = delete;
    TVMKScan& operator=(const TVMKScan&) = delete;

    // One scan into Folder (empty keeps ScanFolder), at most Limit pages.
    void scan(const std::string& Folder, std::int32_t Limit);
    // Refreshes the list of installed sources; the same list every time.
    const StringList& getSourceList();
    void setSourceName(const std::string& Name);
    // Completes SourceName to the installed source whose name contains it.
    void resolveDefaultSource();
    void resetCounters();

    // The component's handlers.
    void twainNegotiation(TwainComponent& Sender, bool& CancelScan);
    void twainImageReady(TwainComponent& Sender, std::unique_ptr<Bitmap> hImage);
    void twainXferNext(TwainComponent& Sender, int& NumImages, bool& SkipNext);
    void twainFailure(TwainComponent& Sender, std::uint32_t DG, std::uint16_t DAT,
                      std::uint16_t CAP, std::uint16_t MSG, int Error, int Status,
                      const std::string& Message);
    void twainDeviceEvent(TwainComponent& Sender, int Event, const std::string& DeviceName, int A,
                          int B, int C);

    // Value in decimal, with "0" in front up to Width characters; longer numbers are kept.
    static std::string zeroPad(std::int64_t Value, int Width);
    // The name a device event has in status texts.
    static std::string deviceEventName(int Event);
    // The text of the confirmation box: two lines.
    static std::string confirmationText();

    // A page is being processed: set when it arrives, cleared once it is saved and reported.
    bool Processing = false;
    // Waits made for a page still being processed; 0 when a scan begins. The session drops the
    // pending pages after a failed page instead of waiting, so it stays 0 during a scan.
    std::uint8_t WaitCount = 0;

    StatusEvent OnStatus;
    ImageSavedEvent OnImageSaved;
    ImageAcquiredEvent OnImageAcquired;
    ErrorEvent OnError;
    NotifyEvent OnScanStart;
    NotifyEvent OnScanComplete;

    // Pages received since the counters were reset.
    std::int32_t ImagesScanned = 0;
    // Number of the last page file in the scan folder.
    std::int32_t ImagesInPath = 0;
    // Page limit of the current scan.
    std::int32_t MaxImages = 0;
    // Folder that receives the page files.
    std::string ScanFolder;
    // Name of the source to acquire from.
    std::string SourceName;
    // Whether scan sets both counters to 0.
    bool ResetCountersOnScan = true;

private:
    void status(const std::string& text);
    void reportError(const std::exception& error, const std::string& origin);
    void completeScan();
    // Writes the page under a temporary name and gives it the first free page number from
    // ImagesInPath on; returns the file's full name.
    std::string savePage(const Bitmap& page);
    std::string pageFileName(std::int32_t number) const;

    TwainComponent& Twain;
    Prompts& m_prompts;
    StringList SourceList;
    CFileDir FileDir;
    bool m_inScan = false;
};

} // namespace pagewren

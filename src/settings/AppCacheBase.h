#pragma once

#include <string>

namespace pagewren {

// What every application cache offers: its XML text, saving, and saving after every change once
// AutoSave is on.
class TApplicationCacheBase {
public:
    TApplicationCacheBase() = default;
    virtual ~TApplicationCacheBase() = default;
    TApplicationCacheBase(const TApplicationCacheBase&) = delete;
    TApplicationCacheBase& operator=(const TApplicationCacheBase&) = delete;

    virtual std::string ToXML() const = 0;
    virtual bool Save() = 0;

    // Off after creation; the main window switches it on once it exists.
    bool AutoSave = false;
};

} // namespace pagewren

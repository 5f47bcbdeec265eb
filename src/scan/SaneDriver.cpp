#include "scan/SaneDriver.h"

#include "image/Bitmap.h"
#include "image/Resolution.h"
#include "scan/ScanFailure.h"
#include "scan/TwainConstants.h"

#include <sane/sane.h>
#include <sane/saneopts.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstring>
#include <mutex>
#include <utility>

namespace pagewren {

namespace {

// sane_init and sane_exit are process-wide: the last driver to close the manager ends SANE.
std::mutex g_saneMutex;
int g_saneUsers = 0;

SANE_Status acquireSane()
{
    std::lock_guard lock(g_saneMutex);
    if (g_saneUsers == 0) {
        SANE_Int version = 0;
        const SANE_Status status = sane_init(&version, nullptr);
        if (status != SANE_STATUS_GOOD)
            return status;
    }
    ++g_saneUsers;
    return SANE_STATUS_GOOD;
}

void releaseSane()
{
    std::lock_guard lock(g_saneMutex);
    if (--g_saneUsers == 0)
        sane_exit();
}

ScanFailure saneFailure(SANE_Status status, std::uint32_t dg, std::uint16_t dat, std::uint16_t msg)
{
    return ScanFailure(dg, dat, msg, twain::TWRC_FAILURE, static_cast<int>(status),
                       sane_strstatus(status));
}

ScanFailure transferFailure(SANE_Status status)
{
    return saneFailure(status, twain::DG_IMAGE, twain::DAT_IMAGENATIVEXFER, twain::MSG_GET);
}

ScanFailure transferFailure(const std::string& text)
{
    return ScanFailure(twain::DG_IMAGE, twain::DAT_IMAGENATIVEXFER, twain::MSG_GET,
                       twain::TWRC_FAILURE, twain::TWCC_BUMMER, text);
}

std::string trimmed(const char* text)
{
    std::string s = text ? text : "";
    const auto blank = [](unsigned char c) { return std::isspace(c) != 0; };
    s.erase(s.begin(), std::find_if_not(s.begin(), s.end(), blank));
    s.erase(std::find_if_not(s.rbegin(), s.rend(), blank).base(), s.end());
    return s;
}

std::string lowered(std::string s)
{
    std::transform(s.begin(), s.end(), s.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return s;
}

bool contains(const std::string& text, const char* part)
{
    return text.find(part) != std::string::npos;
}

// The TWAIN pixel type a backend's scan mode stands for.
std::optional<int> pixelTypeOfMode(const std::string& mode)
{
    const std::string m = lowered(mode);
    if (contains(m, "color") || contains(m, "colour") || contains(m, "rgb"))
        return twain::TWPT_RGB;
    if (contains(m, "gray") || contains(m, "grey"))
        return twain::TWPT_GRAY;
    if (contains(m, "lineart") || contains(m, "binary") || contains(m, "halftone") ||
        contains(m, "black") || contains(m, "mono"))
        return twain::TWPT_BW;
    return std::nullopt;
}

bool isFeederSource(const std::string& source)
{
    const std::string s = lowered(source);
    return contains(s, "adf") || contains(s, "feeder");
}

constexpr SANE_Int kReadChunk = 64 * 1024;

} // namespace

struct SaneDriver::Private {
    struct Option {
        SANE_Int index;
        const SANE_Option_Descriptor* desc;
    };

    bool managerOpen = false;
    // Shown name and SANE device name, in the order SANE lists them.
    std::vector<std::pair<std::string, std::string>> devices;
    SANE_Handle handle = nullptr;
    std::string openName;
    bool started = false;   // sane_start called since the last sane_cancel
    bool batchOver = false; // the batch found no further page or failed
    bool batchIsFeeder = false;
    int pagesInBatch = 0;

    void listDevices()
    {
        const SANE_Device** list = nullptr;
        const SANE_Status status = sane_get_devices(&list, SANE_FALSE);
        if (status != SANE_STATUS_GOOD)
            throw saneFailure(status, twain::DG_CONTROL, twain::DAT_IDENTITY, twain::MSG_GETFIRST);
        devices.clear();
        for (int i = 0; list && list[i]; ++i) {
            const SANE_Device* device = list[i];
            devices.emplace_back(displayName(trimmed(device->vendor), trimmed(device->model),
                                             device->name ? device->name : ""),
                                 device->name ? device->name : "");
        }
    }

    std::optional<std::string> deviceFor(const std::string& name) const
    {
        for (const auto& [shown, device] : devices)
            if (shown == name || device == name)
                return device;
        return std::nullopt;
    }

    // An active option by name.
    std::optional<Option> find(const char* name) const
    {
        if (!handle)
            return std::nullopt;
        SANE_Int count = 0;
        if (sane_control_option(handle, 0, SANE_ACTION_GET_VALUE, &count, nullptr) !=
            SANE_STATUS_GOOD)
            return std::nullopt;
        for (SANE_Int i = 1; i < count; ++i) {
            const SANE_Option_Descriptor* desc = sane_get_option_descriptor(handle, i);
            if (desc && desc->name && std::strcmp(desc->name, name) == 0 &&
                SANE_OPTION_IS_ACTIVE(desc->cap))
                return Option{i, desc};
        }
        return std::nullopt;
    }

    std::optional<double> readNumber(const Option& option) const
    {
        const auto* desc = option.desc;
        if (desc->type != SANE_TYPE_INT && desc->type != SANE_TYPE_FIXED &&
            desc->type != SANE_TYPE_BOOL)
            return std::nullopt;
        if (desc->size < static_cast<SANE_Int>(sizeof(SANE_Word)))
            return std::nullopt;
        std::vector<SANE_Word> words(static_cast<std::size_t>(desc->size) / sizeof(SANE_Word));
        if (sane_control_option(handle, option.index, SANE_ACTION_GET_VALUE, words.data(),
                                nullptr) != SANE_STATUS_GOOD)
            return std::nullopt;
        if (desc->type == SANE_TYPE_FIXED)
            return SANE_UNFIX(words[0]);
        return static_cast<double>(words[0]);
    }

    bool writeNumber(const Option& option, double value)
    {
        const auto* desc = option.desc;
        if (!SANE_OPTION_IS_SETTABLE(desc->cap) ||
            desc->size < static_cast<SANE_Int>(sizeof(SANE_Word)))
            return false;
        SANE_Word word = 0;
        switch (desc->type) {
        case SANE_TYPE_INT:
            word = static_cast<SANE_Word>(std::lround(value));
            break;
        case SANE_TYPE_FIXED:
            word = SANE_FIX(value);
            break;
        case SANE_TYPE_BOOL:
            word = value != 0 ? SANE_TRUE : SANE_FALSE;
            break;
        default:
            return false;
        }
        std::vector<SANE_Word> words(static_cast<std::size_t>(desc->size) / sizeof(SANE_Word),
                                     word);
        SANE_Int info = 0;
        return sane_control_option(handle, option.index, SANE_ACTION_SET_VALUE, words.data(),
                                   &info) == SANE_STATUS_GOOD;
    }

    std::optional<std::string> readString(const Option& option) const
    {
        if (option.desc->type != SANE_TYPE_STRING || option.desc->size <= 0)
            return std::nullopt;
        std::vector<char> text(static_cast<std::size_t>(option.desc->size) + 1, '\0');
        if (sane_control_option(handle, option.index, SANE_ACTION_GET_VALUE, text.data(),
                                nullptr) != SANE_STATUS_GOOD)
            return std::nullopt;
        return std::string(text.data());
    }

    bool writeString(const Option& option, const std::string& value)
    {
        const auto* desc = option.desc;
        if (desc->type != SANE_TYPE_STRING || !SANE_OPTION_IS_SETTABLE(desc->cap) ||
            value.size() >= static_cast<std::size_t>(std::max(desc->size, 0)))
            return false;
        std::vector<char> text(static_cast<std::size_t>(desc->size), '\0');
        std::copy(value.begin(), value.end(), text.begin());
        SANE_Int info = 0;
        return sane_control_option(handle, option.index, SANE_ACTION_SET_VALUE, text.data(),
                                   &info) == SANE_STATUS_GOOD;
    }

    static std::vector<std::string> choices(const Option& option)
    {
        std::vector<std::string> result;
        if (option.desc->constraint_type == SANE_CONSTRAINT_STRING_LIST)
            for (const SANE_String_Const* entry = option.desc->constraint.string_list;
                 entry && *entry; ++entry)
                result.emplace_back(*entry);
        return result;
    }

    std::optional<std::string> sourceEntry(bool feeder) const
    {
        const auto source = find(SANE_NAME_SCAN_SOURCE);
        if (!source)
            return std::nullopt;
        for (const auto& entry : choices(*source))
            if (isFeederSource(entry) == feeder)
                return entry;
        return std::nullopt;
    }

    std::optional<bool> feederSelected() const
    {
        const auto source = find(SANE_NAME_SCAN_SOURCE);
        if (!source || !sourceEntry(true))
            return std::nullopt;
        const auto current = readString(*source);
        if (!current)
            return std::nullopt;
        return isFeederSource(*current);
    }

    bool selectFeeder(bool feeder)
    {
        const auto source = find(SANE_NAME_SCAN_SOURCE);
        const auto entry = sourceEntry(feeder);
        return source && entry && sourceEntry(true) && writeString(*source, *entry);
    }

    std::optional<Option> paperSensor() const
    {
        for (const char* name : {SANE_NAME_PAGE_LOADED, "adf-loaded"}) {
            const auto option = find(name);
            if (option && option->desc->type == SANE_TYPE_BOOL &&
                (option->desc->cap & SANE_CAP_SOFT_DETECT))
                return option;
        }
        return std::nullopt;
    }

    std::optional<Option> batchScan() const
    {
        const auto option = find("batch-scan");
        if (option && option->desc->type == SANE_TYPE_BOOL)
            return option;
        return std::nullopt;
    }

    std::optional<Option> resolution(char axis) const
    {
        const std::string name = std::string(1, axis) + "-resolution";
        if (auto option = find(name.c_str()))
            return option;
        return find(SANE_NAME_SCAN_RESOLUTION);
    }

    std::optional<Option> pixelTypeOption() const { return find(SANE_NAME_SCAN_MODE); }

    bool writePixelType(int type)
    {
        const auto mode = pixelTypeOption();
        if (!mode)
            return false;
        const auto entries = choices(*mode);
        // The standard names first, so "Lineart" wins over "Halftone".
        static const char* const standard[] = {
            SANE_VALUE_SCAN_MODE_LINEART, SANE_VALUE_SCAN_MODE_GRAY, SANE_VALUE_SCAN_MODE_COLOR};
        if (type >= 0 && type <= 2 &&
            std::find(entries.begin(), entries.end(), standard[type]) != entries.end())
            return writeString(*mode, standard[type]);
        for (const auto& entry : entries)
            if (pixelTypeOfMode(entry) == type)
                return writeString(*mode, entry);
        return false;
    }

    void cancel() noexcept
    {
        if (handle && started)
            sane_cancel(handle);
        started = false;
    }

    // Reads one frame; nullopt when the feeder turned out to be empty.
    std::optional<std::vector<std::uint8_t>> readFrame(const SANE_Parameters& parameters)
    {
        std::vector<std::uint8_t> data;
        if (parameters.lines > 0) {
            const auto expected = static_cast<std::size_t>(parameters.bytes_per_line) *
                                  static_cast<std::size_t>(parameters.lines);
            data.reserve(std::min(expected, Bitmap::kMaxBytes));
        }
        for (;;) {
            const std::size_t used = data.size();
            if (used + kReadChunk > Bitmap::kMaxBytes)
                throw transferFailure("The scanned page is too large");
            data.resize(used + kReadChunk);
            SANE_Int length = 0;
            const SANE_Status status = sane_read(handle, data.data() + used, kReadChunk, &length);
            data.resize(used + (status == SANE_STATUS_GOOD ? static_cast<std::size_t>(length) : 0));
            if (status == SANE_STATUS_EOF)
                return data;
            // Some feeders only notice the missing sheet when the page is read.
            if (status == SANE_STATUS_NO_DOCS && data.empty())
                return std::nullopt;
            if (status != SANE_STATUS_GOOD)
                throw transferFailure(status);
        }
    }

    // The resolution along one axis; 0 when the backend does not tell.
    double dpi(char axis) const
    {
        const auto option = resolution(axis);
        const auto value = option ? readNumber(*option) : std::nullopt;
        return value.value_or(0.0);
    }

    std::unique_ptr<Bitmap> transfer()
    {
        const double xDpi = dpi('x');
        const double yDpi = dpi('y');

        SANE_Status status = sane_start(handle);
        started = true;
        if (status == SANE_STATUS_NO_DOCS)
            return nullptr;
        if (status != SANE_STATUS_GOOD)
            throw transferFailure(status);
        SANE_Parameters parameters{};
        status = sane_get_parameters(handle, &parameters);
        if (status != SANE_STATUS_GOOD)
            throw transferFailure(status);
        if ((parameters.format != SANE_FRAME_GRAY && parameters.format != SANE_FRAME_RGB) ||
            !parameters.last_frame)
            throw transferFailure("Scanners that send each colour in a pass of its own are not "
                                  "supported");
        if (parameters.pixels_per_line <= 0 || parameters.bytes_per_line <= 0)
            throw transferFailure("The scanner reported an empty page");

        auto data = readFrame(parameters);
        if (!data)
            return nullptr;
        auto page = toBitmap(parameters, *data);
        page->setXPelsPerMeter(DpiToPelsPerMeter(xDpi));
        page->setYPelsPerMeter(DpiToPelsPerMeter(yDpi));
        return page;
    }

    static std::unique_ptr<Bitmap> toBitmap(const SANE_Parameters& p,
                                            const std::vector<std::uint8_t>& data)
    {
        const bool rgb = p.format == SANE_FRAME_RGB;
        const int depth = p.depth;
        if (!(depth == 8 || depth == 16 || (depth == 1 && !rgb)))
            throw transferFailure("The scanner sent " + std::to_string(depth) +
                                  " bits per sample, which is not supported");
        const auto sourceStride = static_cast<std::size_t>(p.bytes_per_line);
        const int width = p.pixels_per_line;
        const int samples = rgb ? 3 : 1;
        const auto needed = depth == 1 ? (static_cast<std::size_t>(width) + 7) / 8
                                       : static_cast<std::size_t>(width) * samples * (depth / 8);
        if (needed > sourceStride)
            throw transferFailure("The scanner sent lines shorter than its pixel count");
        const auto rows = data.size() / sourceStride;
        if (rows == 0)
            throw transferFailure("The scanner sent no image data");

        auto page =
            std::make_unique<Bitmap>(width, static_cast<int>(rows), depth == 1 ? 1 : 8 * samples);
        const std::size_t count = static_cast<std::size_t>(width) * samples;
        for (std::size_t y = 0; y < rows; ++y) {
            const std::uint8_t* src = data.data() + y * sourceStride;
            std::uint8_t* dst = page->row(static_cast<int>(y));
            if (depth == 1) {
                // SANE's line art has 1 for black; the bitmap has 0 for black.
                for (std::size_t i = 0; i < needed; ++i)
                    dst[i] = static_cast<std::uint8_t>(~src[i]);
            } else if (depth == 8) {
                std::memcpy(dst, src, count);
            } else {
                // 16-bit samples come in the host's byte order; keep the high byte.
                for (std::size_t i = 0; i < count; ++i) {
                    std::uint16_t sample = 0;
                    std::memcpy(&sample, src + 2 * i, sizeof sample);
                    dst[i] = static_cast<std::uint8_t>(sample >> 8);
                }
            }
        }
        return page;
    }
};

SaneDriver::SaneDriver() : d(std::make_unique<Private>()) {}

SaneDriver::~SaneDriver()
{
    closeManager();
}

std::string SaneDriver::displayName(const std::string& vendor, const std::string& model,
                                    const std::string& device)
{
    std::string name = vendor;
    if (!model.empty())
        name += (name.empty() ? "" : " ") + model;
    if (name.empty())
        return device;
    return name + " (" + device + ")";
}

void SaneDriver::openManager()
{
    if (d->managerOpen)
        return;
    const SANE_Status status = acquireSane();
    if (status != SANE_STATUS_GOOD)
        throw saneFailure(status, twain::DG_CONTROL, twain::DAT_PARENT, twain::MSG_OPENDSM);
    d->managerOpen = true;
}

void SaneDriver::closeManager() noexcept
{
    closeSource();
    if (!d->managerOpen)
        return;
    d->managerOpen = false;
    // The names stay known, so a source can be opened again without listing every device.
    releaseSane();
}

bool SaneDriver::isManagerOpen() const
{
    return d->managerOpen;
}

std::vector<std::string> SaneDriver::sourceNames()
{
    if (!d->managerOpen)
        throw ScanFailure(twain::DG_CONTROL, twain::DAT_IDENTITY, twain::MSG_GETFIRST,
                          twain::TWRC_FAILURE, twain::TWCC_SEQERROR, "SANE is not initialised");
    d->listDevices();
    std::vector<std::string> names;
    for (const auto& device : d->devices)
        names.push_back(device.first);
    return names;
}

void SaneDriver::openSource(const std::string& name)
{
    if (!d->managerOpen)
        throw ScanFailure(twain::DG_CONTROL, twain::DAT_IDENTITY, twain::MSG_OPENDS,
                          twain::TWRC_FAILURE, twain::TWCC_SEQERROR, "SANE is not initialised");
    auto device = d->deviceFor(name);
    if (!device) {
        d->listDevices();
        device = d->deviceFor(name);
    }
    if (!device)
        throw ScanFailure(twain::DG_CONTROL, twain::DAT_IDENTITY, twain::MSG_OPENDS,
                          twain::TWRC_FAILURE, twain::TWCC_NODS, "No scanner named " + name);
    closeSource();
    SANE_Handle handle = nullptr;
    const SANE_Status status = sane_open(device->c_str(), &handle);
    if (status != SANE_STATUS_GOOD)
        throw saneFailure(status, twain::DG_CONTROL, twain::DAT_IDENTITY, twain::MSG_OPENDS);
    d->handle = handle;
    d->openName = name;
    d->batchOver = false;
    d->pagesInBatch = 0;
}

void SaneDriver::closeSource() noexcept
{
    if (!d->handle)
        return;
    endBatch();
    sane_close(d->handle);
    d->handle = nullptr;
    d->openName.clear();
}

std::string SaneDriver::openSourceName() const
{
    return d->openName;
}

std::optional<std::vector<std::uint16_t>> SaneDriver::supportedCapabilities()
{
    std::vector<std::uint16_t> caps;
    if (!d->handle)
        return caps;
    if (d->pixelTypeOption())
        caps.push_back(twain::ICAP_PIXELTYPE);
    if (d->find(SANE_NAME_BIT_DEPTH))
        caps.push_back(twain::ICAP_BITDEPTH);
    if (d->resolution('x'))
        caps.push_back(twain::ICAP_XRESOLUTION);
    if (d->resolution('y'))
        caps.push_back(twain::ICAP_YRESOLUTION);
    const bool feeder = d->sourceEntry(true).has_value();
    if (feeder)
        caps.push_back(twain::CAP_FEEDERENABLED);
    if (d->paperSensor()) {
        caps.push_back(twain::CAP_FEEDERLOADED);
        caps.push_back(twain::CAP_PAPERDETECTABLE);
    }
    if (d->batchScan() || feeder) {
        caps.push_back(twain::CAP_AUTOFEED);
        caps.push_back(twain::CAP_AUTOSCAN);
    }
    return caps;
}

std::optional<double> SaneDriver::readCapability(std::uint16_t cap)
{
    if (!d->handle)
        return std::nullopt;
    const auto number = [this](const std::optional<Private::Option>& option) {
        return option ? d->readNumber(*option) : std::nullopt;
    };
    const auto flag = [](std::optional<bool> value) -> std::optional<double> {
        if (!value)
            return std::nullopt;
        return *value ? 1.0 : 0.0;
    };
    switch (cap) {
    case twain::ICAP_PIXELTYPE: {
        const auto mode = d->pixelTypeOption();
        const auto text = mode ? d->readString(*mode) : std::nullopt;
        const auto type = text ? pixelTypeOfMode(*text) : std::nullopt;
        return type ? std::optional<double>(*type) : std::nullopt;
    }
    case twain::ICAP_BITDEPTH:
        return number(d->find(SANE_NAME_BIT_DEPTH));
    case twain::ICAP_XRESOLUTION:
        return number(d->resolution('x'));
    case twain::ICAP_YRESOLUTION:
        return number(d->resolution('y'));
    case twain::CAP_FEEDERENABLED:
        return flag(d->feederSelected());
    case twain::CAP_FEEDERLOADED:
        return number(d->paperSensor());
    case twain::CAP_PAPERDETECTABLE:
        return d->paperSensor() ? std::optional<double>(1.0) : std::nullopt;
    case twain::CAP_AUTOFEED:
    case twain::CAP_AUTOSCAN:
        if (const auto batch = d->batchScan())
            return d->readNumber(*batch);
        return flag(d->feederSelected());
    default:
        return std::nullopt;
    }
}

bool SaneDriver::writeCapability(std::uint16_t cap, double value)
{
    if (!d->handle || d->started)
        return false;
    const auto number = [this, value](const std::optional<Private::Option>& option) {
        return option && d->writeNumber(*option, value);
    };
    switch (cap) {
    case twain::ICAP_PIXELTYPE:
        return d->writePixelType(static_cast<int>(std::lround(value)));
    case twain::ICAP_BITDEPTH:
        return number(d->find(SANE_NAME_BIT_DEPTH));
    case twain::ICAP_XRESOLUTION:
        return number(d->resolution('x'));
    case twain::ICAP_YRESOLUTION:
        return number(d->resolution('y'));
    case twain::CAP_FEEDERENABLED:
        return d->selectFeeder(value != 0);
    case twain::CAP_AUTOFEED:
    case twain::CAP_AUTOSCAN:
        if (const auto batch = d->batchScan())
            return d->writeNumber(*batch, value);
        return d->selectFeeder(value != 0);
    default:
        return false;
    }
}

std::unique_ptr<Bitmap> SaneDriver::transferPage()
{
    if (!d->handle)
        throw ScanFailure(twain::DG_IMAGE, twain::DAT_IMAGENATIVEXFER, twain::MSG_GET,
                          twain::TWRC_FAILURE, twain::TWCC_SEQERROR, "No scanner is open");
    if (d->batchOver)
        return nullptr;
    if (d->pagesInBatch == 0)
        d->batchIsFeeder = d->feederSelected().value_or(false);
    else if (!d->batchIsFeeder)
        return nullptr; // a flatbed holds one page
    // A missing page or a failure ends the batch; endBatch then cancels it, as SANE requires
    // before the next start.
    try {
        auto page = d->transfer();
        if (!page) {
            d->batchOver = true;
            return nullptr;
        }
        ++d->pagesInBatch;
        return page;
    } catch (...) {
        d->batchOver = true;
        throw;
    }
}

int SaneDriver::pendingPages()
{
    if (!d->handle || d->batchOver || !d->batchIsFeeder)
        return 0;
    if (const auto sensor = d->paperSensor()) {
        const auto loaded = d->readNumber(*sensor);
        if (loaded && *loaded == 0)
            return 0;
    }
    return kUnknownPending;
}

bool SaneDriver::skipPage()
{
    // Reading the page through is the one way to drop it that every backend honours.
    return transferPage() != nullptr;
}

void SaneDriver::endBatch() noexcept
{
    d->cancel();
    d->batchOver = false;
    d->batchIsFeeder = false;
    d->pagesInBatch = 0;
}

std::vector<DeviceEvent> SaneDriver::takeDeviceEvents()
{
    // SANE reports no device events.
    return {};
}

} // namespace pagewren

#include "image/PageCompressor.h"

#include "image/Bitmap.h"
#include "image/DWImage.h"
#include "image/DirectJpegCopy.h"
#include "util/Error.h"

#include <algorithm>
#include <atomic>
#include <exception>
#include <filesystem>
#include <limits>
#include <memory>
#include <stdexcept>
#include <system_error>
#include <thread>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

#ifdef __linux__
#include <sched.h>
#endif

namespace pagewren {

namespace {

constexpr std::size_t kNoFailure = std::numeric_limits<std::size_t>::max();

enum class PageState { Pending, Skipped, Converted, Failed };

struct PageOutcome {
    PageState state = PageState::Pending;
    std::exception_ptr failure;
};

// Copy names that differ only in letter case are one file on some file systems: such pages are
// kept in one group too. Grouping more than needed only costs parallelism.
std::string groupKey(const std::string& name)
{
    std::string key = name;
    for (char& c : key) {
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    }
    return key;
}

// Page indices grouped by copy name, each group in page order, the groups ordered by their first
// page. A group is converted by one worker from first to last.
std::vector<std::vector<std::size_t>> groupByCopy(const StringList& copyNames)
{
    std::vector<std::vector<std::size_t>> groups;
    std::unordered_map<std::string, std::size_t> groupOf;
    for (std::size_t i = 0; i < copyNames.size(); ++i) {
        const auto [it, added] = groupOf.try_emplace(groupKey(copyNames[i]), groups.size());
        if (added)
            groups.emplace_back();
        groups[it->second].push_back(i);
    }
    return groups;
}

// What the workers share. Pages are handed out in order; once a page has failed, no page after
// it is started, while every page before it still is.
class Batch {
public:
    Batch(const StringList& pages, const StringList& copyNames,
          const PageCompressor::Convert& convert)
        : m_pages(pages), m_copyNames(copyNames), m_convert(convert),
          m_groups(groupByCopy(copyNames)), m_outcomes(pages.size())
    {
    }

    std::size_t groupCount() const { return m_groups.size(); }
    const std::vector<PageOutcome>& outcomes() const { return m_outcomes; }

    // Runs on each worker thread with the worker's own document; throws nothing.
    void work(TDWImage& image) noexcept
    {
        for (;;) {
            const std::size_t group = m_nextGroup.fetch_add(1);
            if (group >= m_groups.size())
                return;
            // Groups come in the order of their first page: when this one starts after the
            // failure, so do all that remain.
            if (m_groups[group].front() > m_firstFailure.load())
                return;
            for (const std::size_t page : m_groups[group]) {
                if (page > m_firstFailure.load() || !convert(image, page))
                    break;
            }
        }
    }

private:
    // False when the page failed.
    bool convert(TDWImage& image, std::size_t page) noexcept
    {
        PageOutcome& outcome = m_outcomes[page];
        try {
            const bool loaded = m_convert(image, m_pages[page], m_copyNames[page]);
            outcome.state = loaded ? PageState::Converted : PageState::Skipped;
            return true;
        } catch (...) {
            outcome.failure = std::current_exception();
            outcome.state = PageState::Failed;
        }
        std::size_t first = m_firstFailure.load();
        while (page < first && !m_firstFailure.compare_exchange_weak(first, page)) {
        }
        return false;
    }

    const StringList& m_pages;
    const StringList& m_copyNames;
    const PageCompressor::Convert& m_convert;
    const std::vector<std::vector<std::size_t>> m_groups;
    // Each entry is written by the one worker that converts the page, and read after the workers
    // are joined.
    std::vector<PageOutcome> m_outcomes;
    std::atomic<std::size_t> m_nextGroup{0};
    std::atomic<std::size_t> m_firstFailure{kNoFailure};
};

// True when a page is also the copy of another page: it must then be read after that copy is
// written, as one page after the other would have it.
bool pageIsACopy(const StringList& pages, const StringList& copyNames)
{
    std::unordered_set<std::string> copies;
    for (const std::string& name : copyNames)
        copies.insert(groupKey(name));
    return std::any_of(pages.begin(), pages.end(),
                       [&](const std::string& page) { return copies.contains(groupKey(page)); });
}

} // namespace

PageCompressor::PageCompressor(unsigned workers, Convert convert)
    : m_workers(std::max(workers, 1u)), m_convert(std::move(convert))
{
}

int PageCompressor::run(const StringList& pages, const StringList& copyNames,
                        StringList& copies) const
{
    if (pages.size() != copyNames.size())
        throw std::invalid_argument("PageCompressor: one copy name per page is needed");
    Batch batch(pages, copyNames, m_convert);
    TDWImage image;
    {
        const std::size_t workers = pageIsACopy(pages, copyNames) ? 1 : m_workers;
        const std::size_t helpers =
            std::min<std::size_t>(workers, std::max<std::size_t>(batch.groupCount(), 1)) - 1;
        std::vector<std::jthread> threads; // joined at the end of this block
        threads.reserve(helpers);
        for (std::size_t i = 0; i < helpers; ++i) {
            try {
                threads.emplace_back([&batch] {
                    // A helper without a document of its own takes no page; the others do them.
                    std::unique_ptr<TDWImage> own;
                    try {
                        own = std::make_unique<TDWImage>();
                    } catch (...) {
                        return;
                    }
                    batch.work(*own);
                });
            } catch (const std::system_error&) {
                break; // fewer threads only make it slower
            }
        }
        batch.work(image); // this thread is a worker too, so every page is taken
    }

    int count = 0;
    for (std::size_t i = 0; i < pages.size(); ++i) {
        const PageOutcome& outcome = batch.outcomes()[i];
        if (outcome.state == PageState::Failed)
            std::rethrow_exception(outcome.failure);
        if (outcome.state == PageState::Converted) {
            copies.push_back(copyNames[i]);
            ++count;
        }
    }
    return count;
}

bool PageCompressor::WriteJpegCopy(TDWImage& image, const std::string& page,
                                   const std::string& copy)
{
    // The scanner's own pages go straight from their strips to the encoder; anything else, and
    // any page that fails there, goes through the image document, which has the last word.
    if (DirectJpegCopy::Write(page, copy, kQuality))
        return true;
    // Let go of the previous page before the next one is decoded: one page per document at a time.
    image.Assign(Bitmap());
    if (!image.LoadFromFile(page))
        return false;
    const ImageWriteResult written = image.SaveToFileChecked(copy, kQuality);
    if (!written.ok()) {
        namespace fs = std::filesystem;
        std::error_code error;
        const fs::file_status status = fs::symlink_status(copy, error);
        if (fs::is_regular_file(status) || fs::is_symlink(status)) {
            fs::remove(copy, error);
            if (error)
                throw Error(written.error);
        }
    }
    return true;
}

unsigned PageCompressor::DefaultWorkers()
{
    unsigned count = std::thread::hardware_concurrency();
#ifdef __linux__
    // The processors this process may run on, which a container or taskset can make fewer.
    cpu_set_t allowed;
    if (sched_getaffinity(0, sizeof allowed, &allowed) == 0) {
        const int usable = CPU_COUNT(&allowed);
        if (usable > 0 && (count == 0 || static_cast<unsigned>(usable) < count))
            count = static_cast<unsigned>(usable);
    }
#endif
    return std::max(count, 1u);
}

} // namespace pagewren

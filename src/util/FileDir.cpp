#include "util/FileDir.h"

#include "platform/Environment.h"
#include "platform/Platform.h"
#include "platform/ProgramInfo.h"
#include "platform/Shell.h"
#include "platform/SpecialFolders.h"
#include "util/Error.h"
#include "util/StrUtil.h"

#include <QCollator>
#include <QList>
#include <QLocale>
#include <QString>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <system_error>
#include <utility>

namespace pagewren {

namespace fs = std::filesystem;

namespace {

#ifdef _WIN32
constexpr char kHostSeparator = '\\';
#else
constexpr char kHostSeparator = '/';
#endif

// Shell folder identifiers the program knows a folder for.
constexpr int kCsidlDesktop = 0;
constexpr int kCsidlDesktopDirectory = 16;
constexpr int kCsidlProfile = 40;

// Runs body; a failure is handed to ReportError with the operation's fixed text, then raised
// again unchanged.
template <class Body>
auto guarded(CFileDir& self, const char* text, Body&& body) -> decltype(body())
{
    try {
        return body();
    } catch (const std::exception& error) {
        self.ReportError(text, error);
        throw;
    } catch (...) {
        self.ReportError(text, Error("Unknown failure"));
        throw;
    }
}

char32_t foldAscii(char32_t c)
{
    return (c >= U'a' && c <= U'z') ? c - U'a' + U'A' : c;
}

// Wildcard match of a whole name: "*" any run of characters, "?" exactly one. Works on code
// points so "?" stands for one character whatever its UTF-8 length. Backtracks only to the last
// "*", so the cost stays linear-times-pattern, never exponential.
bool matchesMask(const QList<uint>& name, const QList<uint>& mask)
{
    qsizetype n = 0;
    qsizetype m = 0;
    qsizetype starMask = -1;
    qsizetype starName = 0;
    while (n < name.size()) {
        if (m < mask.size() && (mask[m] == U'?' || mask[m] == name[n])) {
            ++n;
            ++m;
        } else if (m < mask.size() && mask[m] == U'*') {
            starMask = m++;
            starName = n;
        } else if (starMask >= 0) {
            m = starMask + 1;
            n = ++starName;
        } else {
            return false;
        }
    }
    while (m < mask.size() && mask[m] == U'*')
        ++m;
    return m == mask.size();
}

QList<uint> codePoints(const std::string& text, bool caseSensitive)
{
    const auto string = QString::fromStdString(text);
    return (caseSensitive ? string : string.toCaseFolded()).toUcs4();
}

// On Linux a folder counts as plain when nothing marks it special: a real folder (not a link),
// not hidden, and writable by its owner (the read-only attribute of other systems).
bool isPlainFolder(const fs::directory_entry& entry)
{
    std::error_code error;
    const auto status = entry.symlink_status(error);
    if (error || status.type() != fs::file_type::directory)
        return false;
    const auto name = entry.path().filename().string();
    if (name.empty() || name.front() == '.')
        return false;
    return (status.permissions() & fs::perms::owner_write) != fs::perms::none;
}

// True when `inner` is `outer` or lies inside it (both absolute and normalised).
bool isSameOrInside(const fs::path& inner, const fs::path& outer)
{
    auto i = inner.begin();
    for (auto o = outer.begin(); o != outer.end(); ++o, ++i) {
        if (o->empty())
            continue; // a trailing separator
        if (i == inner.end() || *i != *o)
            return false;
    }
    return true;
}

} // namespace

CFileDir::CFileDir(PathStyle style) : CFileDir(style, Platform::system()) {}

CFileDir::CFileDir(PathStyle style, const Platform& platform) : m_style(style), m_platform(platform)
{
}

char CFileDir::separator() const
{
    return m_style == PathStyle::Windows ? '\\' : '/';
}

// --- path parts --------------------------------------------------------------------------------

std::size_t CFileDir::folderPartLength(const std::string& path) const
{
    const char* ends = m_style == PathStyle::Windows ? "\\:" : "/";
    const auto last = path.find_last_of(ends);
    return last == std::string::npos ? 0 : last + 1;
}

std::string CFileDir::folderPart(const std::string& path) const
{
    return path.substr(0, folderPartLength(path));
}

std::string CFileDir::fileNamePart(const std::string& path) const
{
    return path.substr(folderPartLength(path));
}

std::string CFileDir::extensionOf(const std::string& path) const
{
    const auto name = fileNamePart(path);
    const auto dot = name.rfind('.');
    return dot == std::string::npos ? std::string() : name.substr(dot);
}

std::string CFileDir::toSystemPath(std::string path) const
{
    if (separator() != kHostSeparator)
        std::replace(path.begin(), path.end(), separator(), kHostSeparator);
    return path;
}

std::string CFileDir::fromSystemPath(std::string path) const
{
    if (separator() != kHostSeparator)
        std::replace(path.begin(), path.end(), kHostSeparator, separator());
    return path;
}

// --- path and name operations ------------------------------------------------------------------

std::string CFileDir::GetAppPath() const
{
    return folderPart(fromSystemPath(m_platform.program.executablePath()));
}

std::string CFileDir::AddPath(const std::string& FileName)
{
    return guarded(*this, "FileDir:CFileDir.AddPath()", [&]() -> std::string {
        if (FileName.empty())
            return {};
        const std::string here = std::string(".") + separator();
        const std::string up = std::string("..") + separator();
        // Names relative to the program's folder: "." is the folder itself, "./x" lies in it and
        // "../x" is resolved against it.
        if (FileName == ".")
            return GetAppPath();
        if (FileName.starts_with(here))
            return GetAppPath() + FileName.substr(here.size());
        if (FileName == ".." || FileName.starts_with(up))
            return RelativePath(GetAppPath(), FileName);
        if (folderPartLength(FileName) == 0)
            return GetAppPath() + FileName;
        return FileName;
    });
}

std::string CFileDir::RelativePath(const std::string& OriginalPath, const std::string& OffsetPath)
{
    return guarded(*this, "FileDir:CFileDir.RelativePath()", [&]() -> std::string {
        const int steps = CountWord(OffsetPath, "..", 1, true);
        if (steps == 0)
            throw Error("The path \"" + OffsetPath + "\" has no \"..\" step to resolve");
        const auto last = PosRev(OffsetPath, "..", 0, false);
        std::string rest = OffsetPath.substr(static_cast<std::size_t>(last) + 1);

        StringList pieces;
        if (m_style == PathStyle::Native && OriginalPath.starts_with('/')) {
            // The root is the native counterpart of a drive: a piece of its own, spelled "".
            pieces.emplace_back();
            SplitToList(OriginalPath.substr(1), '/', pieces, false);
        } else {
            SplitToList(OriginalPath, separator(), pieces, false);
        }
        if (pieces.empty())
            throw Error("No folder to resolve \"" + OffsetPath + "\" against");
        if (pieces.size() > 2) {
            // A network path keeps "\\" in front of its server name.
            if (m_style == PathStyle::Windows && pieces.front() == "\\") {
                pieces[1] = "\\\\" + pieces[1];
                pieces.erase(pieces.begin());
            }
            const auto keep = static_cast<std::ptrdiff_t>(pieces.size()) - (steps + 1);
            for (auto k = keep; k >= 1; --k)
                rest = separator() + pieces[static_cast<std::size_t>(k)] + rest;
        }
        return pieces.front() + rest;
    });
}

std::string CFileDir::EnsurePrefixSuffix(const std::string& S, const std::string& Prefix,
                                         const std::string& Suffix) const
{
    // Both tests look at S as given.
    std::string result = S;
    if (!Suffix.empty() && RightText(S, static_cast<int>(Suffix.size())) != Suffix)
        result += Suffix;
    if (!Prefix.empty() && LeftText(S, static_cast<int>(Prefix.size())) != Prefix)
        result.insert(0, Prefix);
    return result;
}

std::string CFileDir::EnsureTrailingBackslash(const std::string& S) const
{
    return EnsurePrefixSuffix(S, "", std::string(1, separator()));
}

std::string CFileDir::LeftText(const std::string& S, int N) const
{
    if (N <= 0)
        return {};
    return S.substr(0, static_cast<std::size_t>(N));
}

std::string CFileDir::RightText(const std::string& S, int N) const
{
    if (N <= 0)
        return {};
    const auto n = static_cast<std::size_t>(N);
    return n >= S.size() ? S : S.substr(S.size() - n);
}

std::string CFileDir::ucExtractFileName(const std::string& FullPathName, bool ExcludeExtention)
{
    return guarded(*this,
                   "FileDir:CFileDir.ucExtractFileName - Error while Extracting File Name. Parms=",
                   [&]() -> std::string {
                       std::string name = fileNamePart(FullPathName);
                       if (ExcludeExtention) {
                           // Only the last extension goes; a start of 0 searches from the very end.
                           if (const int dot = PosRev(name, ".", 0, true); dot > 0)
                               name = LeftText(name, dot - 1);
                       }
                       return name;
                   });
}

std::string CFileDir::InsertBeforeExt(const std::string& FileName, const std::string& Text)
{
    return folderPart(FileName) + ucExtractFileName(FileName, true) + Text + extensionOf(FileName);
}

std::string CFileDir::ChangeExt(const std::string& FullPathName, const std::string& NewExtention)
{
    return guarded(*this, "FileDir:CFileDir.ChangeExt()", [&]() -> std::string {
        std::string result = folderPart(FullPathName) + ucExtractFileName(FullPathName, true);
        // An empty extension leaves the name without one rather than ending it in ".".
        if (!NewExtention.empty())
            result += NewExtention.front() == '.' ? NewExtention : "." + NewExtention;
        return result;
    });
}

// --- substring helpers -------------------------------------------------------------------------

int CFileDir::CompareWithCase(const std::string& A, const std::string& B, bool CaseSensitive) const
{
    const auto length = std::min(A.size(), B.size());
    for (std::size_t i = 0; i < length; ++i) {
        char32_t a = static_cast<unsigned char>(A[i]);
        char32_t b = static_cast<unsigned char>(B[i]);
        if (!CaseSensitive) {
            a = foldAscii(a);
            b = foldAscii(b);
        }
        if (a != b)
            return a < b ? -1 : 1;
    }
    if (A.size() == B.size())
        return 0;
    return A.size() < B.size() ? -1 : 1;
}

bool CFileDir::matchesAt(const std::string& text, int position, const std::string& find,
                         bool caseSensitive) const
{
    // As many characters as find has, fewer near the end (which then never match).
    const auto piece = text.substr(static_cast<std::size_t>(position) - 1, find.size());
    return CompareWithCase(piece, find, caseSensitive) == 0;
}

int CFileDir::ucPos(const std::string& StringToSearchIn, const std::string& StringToFind,
                    int StartPos, bool CaseSensitive)
{
    return guarded(*this, "FileDir:CFileDir.ucPos ", [&]() -> int {
        // Nothing to find is never found; a start before the text starts at its first character.
        if (StringToFind.empty())
            return 0;
        const int length = static_cast<int>(StringToSearchIn.size());
        for (int i = std::max(StartPos, 1); i <= length; ++i) {
            if (matchesAt(StringToSearchIn, i, StringToFind, CaseSensitive))
                return i;
        }
        return 0;
    });
}

int CFileDir::PosRev(const std::string& StringToSearch, const std::string& StringToFind,
                     int StartPos, bool CaseSensitive)
{
    return guarded(*this, "FileDir:PosRev - Error finding substring. Parms=", [&]() -> int {
        if (StringToFind.empty())
            return 0;
        const int length = static_cast<int>(StringToSearch.size());
        const int start = (StartPos > 0 && StartPos <= length) ? StartPos : length;
        for (int i = start; i >= 1; --i) {
            if (matchesAt(StringToSearch, i, StringToFind, CaseSensitive))
                return i;
        }
        return 0;
    });
}

int CFileDir::CountWord(const std::string& StringWithStringOccurances,
                        const std::string& StringToCount, int StartPos, bool CaseSensitive)
{
    return guarded(*this, "FileDir:CountWord()", [&]() -> int {
        // The search resumes one character after each match, so occurrences may overlap; it
        // ends because every match moves the start forward and ucPos gives 0 past the end.
        int count = 0;
        int position = StartPos;
        while (position > 0) {
            position = ucPos(StringWithStringOccurances, StringToCount, position, CaseSensitive);
            if (position > 0) {
                ++count;
                ++position;
            }
        }
        return count;
    });
}

void CFileDir::SplitToList(const std::string& Text, char Delimiter, StringList& List,
                           bool TrimPieces) const
{
    const std::string work = Text + Delimiter;
    std::size_t start = 0;
    // A delimiter at the very start is not a separator: it stays in the first piece.
    for (std::size_t i = 1; i < work.size(); ++i) {
        if (work[i] != Delimiter)
            continue;
        std::string piece = work.substr(start, i - start);
        if (TrimPieces)
            piece = TrimBlanks(piece);
        if (!piece.empty())
            List.push_back(std::move(piece));
        start = i + 1;
    }
}

// --- folders, files and shell ------------------------------------------------------------------

StringList CFileDir::GetFileList(const std::string& PathName, bool ShowDirectory)
{
    return guarded(*this, "FileDir:GetFileList", [&]() -> StringList {
        const std::string pattern = AddPath(PathName);
        const std::string folder = folderPart(pattern);
        std::string mask = fileNamePart(pattern);
        if (m_style == PathStyle::Windows && mask == "*.*")
            mask = "*"; // names without a dot match too, as on Windows

        // Full paths start with the folder and exactly one separator; a root stays a root.
        std::string prefix = folder;
        while (!prefix.empty() && prefix.back() == separator())
            prefix.pop_back();
        if (!folder.empty())
            prefix = EnsureTrailingBackslash(prefix);

        const bool caseSensitive = m_style == PathStyle::Native;
        const auto maskPoints = codePoints(mask, caseSensitive);
        const fs::path searched = folder.empty() ? fs::path(".") : fs::path(toSystemPath(folder));

        std::error_code error;
        fs::directory_iterator it(searched, error);
        if (error) {
            if (error == std::errc::no_such_file_or_directory ||
                error == std::errc::not_a_directory)
                return {};
            throw Error("Cannot list the folder \"" + folder + "\": " + error.message());
        }

        StringList found;
        for (; it != fs::directory_iterator(); it.increment(error)) {
            const auto name = it->path().filename().string();
            if (name == "." || name == "..")
                continue;
            if (!matchesMask(codePoints(name, caseSensitive), maskPoints))
                continue;
            // Anything but a plain folder is listed like a file.
            if (!isPlainFolder(*it))
                found.push_back(prefix + name);
            else if (ShowDirectory)
                found.push_back(prefix + name + "+");
        }
        if (error)
            throw Error("Cannot list the folder \"" + folder + "\": " + error.message());

        sortForDisplay(found);
        return found;
    });
}

void CFileDir::sortForDisplay(StringList& list)
{
    // The user's collation, letter case ignored, digits compared as characters ("img_10" before
    // "img_2"). Names equal but for case are ordered by their bytes so the order is stable.
    QCollator collator{QLocale()};
    collator.setCaseSensitivity(Qt::CaseInsensitive);
    collator.setNumericMode(false);
    std::vector<std::pair<QString, std::string>> keyed;
    keyed.reserve(list.size());
    for (auto& entry : list)
        keyed.emplace_back(QString::fromStdString(entry), std::move(entry));
    std::sort(keyed.begin(), keyed.end(), [&collator](const auto& a, const auto& b) {
        const int order = collator.compare(a.first, b.first);
        return order != 0 ? order < 0 : a.second < b.second;
    });
    list.clear();
    for (auto& entry : keyed)
        list.push_back(std::move(entry.second));
}

bool CFileDir::DeleteFolder(const std::string& Path)
{
    try {
        std::string path = Path;
        while (!path.empty() && path.back() == separator())
            path.pop_back();
        if (path.empty())
            return false; // "" or the root
        if (m_style == PathStyle::Windows && path.size() == 2 && path[1] == ':')
            return false; // a drive root

        fs::path target(toSystemPath(path));
        // "." and ".." steps could name something other than what the caller meant.
        for (const auto& step : target) {
            if (step == "." || step == "..")
                return false;
        }
        target = fs::absolute(target).lexically_normal();
        if (target == target.root_path())
            return false;
        // Never the user's home or a folder that holds it.
        const fs::path home = fs::path(m_platform.folders.home()).lexically_normal();
        if (!home.empty() && isSameOrInside(home, target))
            return false;
        // Only a real folder: not a file, not a link to a folder, not a missing path.
        std::error_code error;
        if (fs::symlink_status(target, error).type() != fs::file_type::directory || error)
            return false;
        return m_platform.shell.moveToTrash(target.string());
    } catch (...) {
        return false;
    }
}

bool CFileDir::BrowseForFolder(std::string& Path)
{
    const auto chosen = m_platform.shell.browseForFolder("Select a folder");
    if (!chosen || chosen->empty())
        return false;
    Path = fromSystemPath(*chosen);
    return true;
}

std::string CFileDir::GetEnvVar(const std::string& Name)
{
    static constexpr const char* kText =
        "Exception Raised while trying to call function APIGetSystemDir";
    try {
        return m_platform.environment.variable(Name);
    } catch (const std::exception& error) {
        ReportError(kText, error);
    } catch (...) {
        ReportError(kText, Error("Unknown failure"));
    }
    return {};
}

std::string CFileDir::GetTempFolder()
{
    // An unset or empty variable must not make the root the temp folder.
    std::string folder;
    if (m_style == PathStyle::Windows)
        folder = GetEnvVar("temp");
    if (folder.empty())
        folder = fromSystemPath(m_platform.folders.temp());
    return EnsureTrailingBackslash(folder);
}

std::string CFileDir::GetUserProfileFolder()
{
    // Natively the profile is where this program keeps its settings; in Windows style it is the
    // USERPROFILE variable, or the home folder when that is unset or empty.
    std::string folder;
    if (m_style == PathStyle::Windows) {
        folder = GetEnvVar("USERPROFILE");
        if (folder.empty())
            folder = fromSystemPath(m_platform.folders.home());
    } else {
        folder = m_platform.folders.settings();
    }
    return EnsureTrailingBackslash(folder);
}

std::string CFileDir::GetSpecialFolder(int Id)
{
    switch (Id) {
    case kCsidlDesktop:
    case kCsidlDesktopDirectory:
        return fromSystemPath(m_platform.folders.desktop());
    case kCsidlProfile:
        return fromSystemPath(m_platform.folders.home());
    default:
        return {}; // no file-system folder known for this identifier
    }
}

std::string CFileDir::GetDesktopFolder()
{
    std::string folder = GetSpecialFolder(kCsidlDesktopDirectory);
    if (folder.empty())
        folder = GetSpecialFolder(kCsidlProfile); // never the root
    return EnsureTrailingBackslash(folder);
}

std::string CFileDir::GetFileVersion(const std::string& FileName)
{
    // Only the program's own file carries a version here; other files give "".
    const auto program = m_platform.program.executablePath();
    if (FileName.empty() || program.empty())
        return {};
    std::error_code error;
    if (fs::equivalent(toSystemPath(FileName), program, error) && !error)
        return m_platform.program.version();
    return {};
}

void CFileDir::ReportError(const std::string& Text, const std::exception& E)
{
    if (OnError)
        OnError(*this, E, Text);
}

} // namespace pagewren

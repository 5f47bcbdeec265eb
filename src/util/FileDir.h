#pragma once

#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

namespace pagewren {

struct Platform;

using StringList = std::vector<std::string>;

// How paths are spelled: the native style of this system ("/", no drive letters) or the Windows
// style ("\" as separator, ":" after a drive letter).
enum class PathStyle { Native, Windows };

// Path, folder and shell helpers. Keeps no state that its operations read, so instances are
// interchangeable. Positions in texts are 1-based; 0 means "not found".
//
// In the native style the folder part of a path ends at its last "/"; in the Windows style at its
// last "\" or ":". When the style's separator is not the host's, paths are translated on their
// way to and from the file system ("\" <-> "/"), so the Windows style also works on real folders.
//
// Guarded operations (AddPath, RelativePath, ChangeExt, ucExtractFileName, ucPos, PosRev,
// CountWord, GetFileList) hand a fixed text and the exception to ReportError and raise it again;
// a guarded operation inside another is reported twice, inner first. GetEnvVar reports and
// gives "".
class CFileDir {
public:
    using ErrorHandler =
        std::function<void(CFileDir& sender, const std::exception& error, const std::string& text)>;

    // The platform is borrowed and must outlive this object.
    explicit CFileDir(PathStyle style = PathStyle::Native);
    CFileDir(PathStyle style, const Platform& platform);

    PathStyle style() const { return m_style; }
    // "/" or "\" as the style has it.
    char separator() const;

    // Notified when a guarded operation fails; optional.
    ErrorHandler OnError;

    // Path and name operations.
    // Folder of the running program with a trailing separator.
    std::string GetAppPath() const;
    // A name without folder part is placed in the program's folder, as are "." (the folder),
    // "./name" and "../name" (resolved against it); any other name is returned unchanged.
    std::string AddPath(const std::string& FileName);
    // OffsetPath's ".." steps resolved against OriginalPath ("C:\a\b\c\" with "..\..\x" gives
    // "C:\a\x"). Raises Error when OffsetPath has no ".." or OriginalPath no folder.
    std::string RelativePath(const std::string& OriginalPath, const std::string& OffsetPath);
    std::string EnsurePrefixSuffix(const std::string& S, const std::string& Prefix,
                                   const std::string& Suffix) const;
    // S followed by the separator unless it already ends with it.
    std::string EnsureTrailingBackslash(const std::string& S) const;
    std::string LeftText(const std::string& S, int N) const;
    std::string RightText(const std::string& S, int N) const;
    std::string ucExtractFileName(const std::string& FullPathName, bool ExcludeExtention);
    std::string InsertBeforeExt(const std::string& FileName, const std::string& Text);
    // NewExtention with or without its dot; an empty one leaves the name without extension.
    std::string ChangeExt(const std::string& FullPathName, const std::string& NewExtention);

    // Substring helpers.
    int CompareWithCase(const std::string& A, const std::string& B, bool CaseSensitive) const;
    int ucPos(const std::string& StringToSearchIn, const std::string& StringToFind, int StartPos,
              bool CaseSensitive);
    int PosRev(const std::string& StringToSearch, const std::string& StringToFind, int StartPos,
               bool CaseSensitive);
    int CountWord(const std::string& StringWithStringOccurances, const std::string& StringToCount,
                  int StartPos, bool CaseSensitive);
    void SplitToList(const std::string& Text, char Delimiter, StringList& List,
                     bool TrimPieces) const;

    // Folder, file and shell operations.

    // Full paths of the entries of one folder matching a pattern such as "/scans/job/*.tif"
    // ("*" and "?" in the name; case-insensitive in Windows style, case-sensitive natively),
    // sorted case-insensitively with the user's collation and no numeric order. Plain folders
    // (real, not hidden, owner-writable) appear as path + "+" when ShowDirectory is true and not
    // at all otherwise; every other entry is listed like a file. A missing folder gives an empty
    // list; a folder that cannot be read raises Error.
    StringList GetFileList(const std::string& PathName, bool ShowDirectory);
    // Moves an existing folder with its contents to the trash. False, never an exception, for ""
    // a root, the user's home or a folder holding it, a path with "." or ".." steps, anything that
    // is not a real folder (file, link, missing path), or when the trash refuses.
    bool DeleteFolder(const std::string& Path);
    // Asks the user for a folder ("Select a folder"); Path is left alone on cancel.
    bool BrowseForFolder(std::string& Path);
    // The variable's value of any length, or "" when it is unset or cannot be read.
    std::string GetEnvVar(const std::string& Name);
    // The temp folder with a trailing separator: natively the platform's temp folder; in Windows
    // style the "temp" variable, or the platform's temp folder when that is unset or empty.
    std::string GetTempFolder();
    // The folder for per-user files with a trailing separator: natively this program's settings
    // folder; in Windows style "USERPROFILE", or the home folder when that is unset or empty.
    std::string GetUserProfileFolder();
    // Shell folder identifiers: 0 and 16 give the desktop folder, 40 the home folder, without a
    // trailing separator; any other identifier gives "".
    std::string GetSpecialFolder(int Id);
    std::string GetDesktopFolder();
    // The program's version for the program's own file; "" for any other file, as none carries
    // a version resource here.
    std::string GetFileVersion(const std::string& FileName);

    void ReportError(const std::string& Text, const std::exception& E);

private:
    std::size_t folderPartLength(const std::string& path) const;
    std::string folderPart(const std::string& path) const;
    std::string fileNamePart(const std::string& path) const;
    std::string extensionOf(const std::string& path) const;
    std::string toSystemPath(std::string path) const;
    std::string fromSystemPath(std::string path) const;
    bool matchesAt(const std::string& text, int position, const std::string& find,
                   bool caseSensitive) const;
    static void sortForDisplay(StringList& list);

    PathStyle m_style;
    const Platform& m_platform;
};

} // namespace pagewren

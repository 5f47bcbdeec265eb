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
// Guarded operations hand a fixed text and the exception to ReportError and raise it again.
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
    std::string GetAppPath() const;
    std::string AddPath(const std::string& FileName);
    std::string RelativePath(const std::string& OriginalPath, const std::string& OffsetPath);
    std::string EnsurePrefixSuffix(const std::string& S, const std::string& Prefix,
                                   const std::string& Suffix) const;
    // S followed by the separator unless it already ends with it.
    std::string EnsureTrailingBackslash(const std::string& S) const;
    std::string LeftText(const std::string& S, int N) const;
    std::string RightText(const std::string& S, int N) const;
    std::string ucExtractFileName(const std::string& FullPathName, bool ExcludeExtention);
    std::string InsertBeforeExt(const std::string& FileName, const std::string& Text);
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
    StringList GetFileList(const std::string& PathName, bool ShowDirectory);
    bool DeleteFolder(const std::string& Path);
    bool BrowseForFolder(std::string& Path);
    std::string GetEnvVar(const std::string& Name);
    std::string GetTempFolder();
    std::string GetUserProfileFolder();
    std::string GetSpecialFolder(int Id);
    std::string GetDesktopFolder();
    std::string GetFileVersion(const std::string& FileName);

    void ReportError(const std::string& Text, const std::exception& E);

private:
    PathStyle m_style;
    const Platform& m_platform;
};

} // namespace pagewren

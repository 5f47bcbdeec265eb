#pragma once

#include "platform/Environment.h"
#include "platform/Platform.h"
#include "platform/ProgramInfo.h"
#include "platform/Prompts.h"
#include "platform/Shell.h"
#include "platform/SpecialFolders.h"

#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace pagewren::test {

// A platform whose answers a test sets: for a program path and environment of another system,
// a folder browser that must not wait for a person, and failures the real services never give.
class FakePlatform {
public:
    struct Env final : Environment {
        std::map<std::string, std::string> values;
        bool fail = false;
        std::string variable(const std::string& name) const override
        {
            if (fail)
                throw std::runtime_error("environment unavailable");
            const auto it = values.find(name);
            return it == values.end() ? std::string() : it->second;
        }
    };
    struct Folders final : SpecialFolders {
        std::string desktopPath = "/home/me/Desktop";
        std::string tempPath = "/tmp";
        std::string settingsPath = "/home/me/.config/pagewren";
        std::string homePath = "/home/me";
        std::string desktop() const override { return desktopPath; }
        std::string temp() const override { return tempPath; }
        std::string settings() const override { return settingsPath; }
        std::string home() const override { return homePath; }
    };
    struct FakeShell final : Shell {
        std::optional<std::string> browseAnswer;
        std::vector<std::string> calls;
        bool moveToTrash(const std::string& path) override { return record("trash " + path); }
        bool revealFile(const std::string& path) override { return record("reveal " + path); }
        bool openFolder(const std::string& path) override { return record("open " + path); }
        std::optional<std::string> browseForFolder(const std::string& title) override
        {
            record("browse " + title);
            return browseAnswer;
        }
        bool showHelp(const std::string& path) override { return record("help " + path); }
        bool record(const std::string& call)
        {
            calls.push_back(call);
            return true;
        }
    };
    struct NoPrompts final : Prompts {
        bool confirm(const std::string&, const std::string&) override { return false; }
        void warning(const std::string&) override {}
        void error(const std::string&) override {}
    };
    struct Program final : ProgramInfo {
        std::string path = "/opt/pagewren/bin/pagewren";
        std::string versionText = "1.2.3.4";
        std::string executablePath() const override { return path; }
        std::string version() const override { return versionText; }
    };

    Env environment;
    Folders folders;
    FakeShell shell;
    NoPrompts prompts;
    Program program;
    const Platform platform{environment, folders, shell, prompts, program};
};

} // namespace pagewren::test

#pragma once

#include "platform/SpecialFolders.h"

namespace pagewren {

class Environment;

// The user's folders as the freedesktop base-directory and user-dirs rules place them. Every path
// follows HOME, XDG_CONFIG_HOME, TMPDIR and user-dirs.dirs, so tests can run in a private home.
class XdgFolders final : public SpecialFolders {
public:
    // The environment is borrowed and must outlive this object.
    explicit XdgFolders(const Environment& environment);

    std::string desktop() const override;
    std::string temp() const override;
    std::string settings() const override;
    std::string home() const override;

private:
    const Environment& m_environment;
};

} // namespace pagewren

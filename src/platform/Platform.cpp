#include "platform/Platform.h"

#include "platform/BuildInfo.h"
#include "platform/DesktopShell.h"
#include "platform/MessageBoxPrompts.h"
#include "platform/SystemEnvironment.h"
#include "platform/XdgFolders.h"

namespace pagewren {

const Platform& Platform::system()
{
    static SystemEnvironment environment;
    static XdgFolders folders(environment);
    static DesktopShell shell;
    static MessageBoxPrompts prompts;
    static BuildInfo program;
    static const Platform platform{environment, folders, shell, prompts, program};
    return platform;
}

} // namespace pagewren

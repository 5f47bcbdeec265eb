#pragma once

namespace pagewren {

class Environment;
class SpecialFolders;
class Shell;
class Prompts;
class ProgramInfo;

// The operating-system services the core uses, passed to it as one bundle so tests can swap any
// of them for a fake. The services are borrowed: whoever builds the bundle keeps them alive.
struct Platform {
    Environment& environment;
    SpecialFolders& folders;
    Shell& shell;
    Prompts& prompts;
    ProgramInfo& program;

    // The real services of this machine; lives for the whole process.
    static const Platform& system();
};

} // namespace pagewren

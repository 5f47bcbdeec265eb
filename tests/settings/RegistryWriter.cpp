// Test helper: writes registry values through the real store of the current environment, as a
// second running instance of the program would.
//
//   registry_writer <prefix> <count>
//
// Waits for a line on standard input (so several writers can start together), then for i = 0,
// 1, ... sets the value "<prefix>_<i>" to i under the product key and prints i once the write is
// done. A count of 0 writes until the process is killed.
#include "platform/Prompts.h"
#include "platform/SystemEnvironment.h"
#include "platform/XdgFolders.h"
#include "settings/RegistryStore.h"
#include "settings/VMKReg.h"

#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <string>

namespace {

class StderrPrompts final : public pagewren::Prompts {
public:
    bool confirm(const std::string&, const std::string&) override { return false; }
    void warning(const std::string& text) override { std::cerr << "warning: " << text << '\n'; }
    void error(const std::string& text) override { std::cerr << "error: " << text << '\n'; }
};

} // namespace

int main(int argc, char** argv)
{
    if (argc != 3) {
        std::cerr << "usage: registry_writer <prefix> <count>\n";
        return 2;
    }
    const std::string prefix = argv[1];
    const long count = std::strtol(argv[2], nullptr, 10);

    pagewren::SystemEnvironment environment;
    pagewren::XdgFolders folders(environment);
    pagewren::RegistryStore store(folders);
    StderrPrompts prompts;
    pagewren::TVMKReg reg(store, prompts);

    std::string go;
    std::getline(std::cin, go);
    for (long i = 0; count == 0 || i < count; ++i) {
        pagewren::TRegValue value;
        pagewren::IntRegValue(static_cast<std::int32_t>(i), value);
        reg.SetValue(prefix + "_" + std::to_string(i), value);
        std::printf("%ld\n", i);
        std::fflush(stdout);
    }
    return 0;
}

// The patch builder's command line: build, inspect, verify.
#include <exception>
#include <iostream>

#include "builder/cli/commands.h"
#include "builder/cli/file_io.h"

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    // The commands report through return codes; only running out of memory
    // on a huge input can still throw, and it must not end in an abort.
    try {
        return RunCommandLine(args, ExecutablePath(argc > 0 ? argv[0] : nullptr), std::cout,
                              std::cerr);
    } catch (const std::exception& e) {
        std::cerr << "error: " << e.what() << "; nothing was written\n";
        return kExitFailed;
    }
}

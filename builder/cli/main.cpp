// The patch builder's command line: build, inspect, verify.
#include <iostream>

#include "builder/cli/commands.h"
#include "builder/cli/file_io.h"

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    return RunCommandLine(args, ExecutablePath(argc > 0 ? argv[0] : nullptr), std::cout, std::cerr);
}

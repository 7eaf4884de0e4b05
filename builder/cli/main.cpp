// The patch builder's command line: build, inspect, verify.
#include <iostream>

#include "builder/cli/commands.h"

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    return RunCommandLine(args, argc > 0 ? argv[0] : "", std::cout, std::cerr);
}

// The command line: the program name, then at most one target path, or "-h".
#pragma once
#include <string>

struct CommandLineRequest {
    bool showUsage = false;        // "-h", or more than one argument
    std::string targetPath = ".";  // the current directory unless a path was given
};

// Scans the whole command line (program name included) byte by byte. Double
// quotes group blanks into a token and are dropped; a token left open by an
// unclosed quote is ignored.
CommandLineRequest ParseCommandLine(const std::string& commandLine);

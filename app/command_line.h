// The command line: the program name, then at most one target path, or "-h";
// "/quiet" anywhere after the program name asks for an unattended run.
#pragma once
#include <string>

struct CommandLineRequest {
    bool showUsage = false;        // "-h", or more than one argument
    bool helpAsked = false;        // "-h" itself, which shows the usage even unattended
    bool unattended = false;       // "/quiet": no window, the result in the exit code
    std::string targetPath = ".";  // the current directory unless a path was given
};

// Scans the whole command line (program name included) byte by byte. Double
// quotes group blanks into a token and are dropped; a token left open by an
// unclosed quote is ignored. The scan goes on past a refusal, so "/quiet"
// anywhere is seen. "/quiet" in any case is the switch: a folder of that name
// at a drive's root is still reached as "\quiet" or "C:\quiet".
CommandLineRequest ParseCommandLine(const std::string& commandLine);

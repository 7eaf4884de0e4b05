// The builder's commands, callable from main and from tests. Each returns the
// process exit code.
#pragma once
#include <ostream>
#include <string>
#include <vector>

enum ExitCode {
    kExitOk = 0,
    kExitFailed = 1,     // bad input or a failed check; the message says which
    kExitUsage = 2,      // the command line is wrong
    kExitWouldFail = 3,  // verify: the patch would not apply to the directory
};

// programPath is the running program's resolved file: the default applier
// is looked for beside it.
int RunBuild(const std::vector<std::string>& args, const std::string& programPath,
             std::ostream& out, std::ostream& err);
int RunInspect(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);
int RunVerify(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

// The whole command line without the program name.
int RunCommandLine(const std::vector<std::string>& args, const std::string& programPath,
                   std::ostream& out, std::ostream& err);

// One line and a hint, as a usage error is reported; returns kExitUsage.
int UsageError(const std::string& message, std::ostream& err);

// A JSON string literal of UTF-8 text.
std::string JsonText(const std::string& utf8);

extern const char kUsageText[];
extern const char kVersionText[];

#include "app/command_line.h"

namespace {

constexpr char kQuote = '"';
constexpr char kBlank = ' ';
constexpr char kUsageOption[] = "-h";
constexpr int kProgramNamePosition = 1;
constexpr int kPathPosition = 2;

// Handles one finished token; false once the usage text is due.
bool HandleToken(const std::string& token, int position, CommandLineRequest* request) {
    if (token == kUsageOption) return false;
    if (position == kProgramNamePosition) return true;
    if (position == kPathPosition) {
        request->targetPath = token;
        return true;
    }
    return false;
}

}  // namespace

CommandLineRequest ParseCommandLine(const std::string& commandLine) {
    CommandLineRequest request;
    // The added blank ends the last token like every other one.
    const std::string text = commandLine + kBlank;
    std::string token;
    bool quoted = false;
    int position = kProgramNamePosition;
    for (char byte : text) {
        if (byte == kQuote) {
            quoted = !quoted;
        } else if (byte == kBlank && !quoted) {
            if (token.empty()) continue;
            if (!HandleToken(token, position, &request)) {
                request.showUsage = true;
                return request;
            }
            token.clear();
            ++position;
        } else {
            token += byte;
        }
    }
    return request;
}

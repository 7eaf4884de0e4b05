#include "app/command_line.h"

namespace {

constexpr char kQuote = '"';
constexpr char kBlank = ' ';
constexpr char kUsageOption[] = "-h";
constexpr char kUnattendedOption[] = "/quiet";
constexpr int kProgramNamePosition = 1;
constexpr int kPathPosition = 2;

bool IsUnattendedOption(const std::string& token) {
    if (token.size() != sizeof(kUnattendedOption) - 1) return false;
    for (size_t i = 0; i < token.size(); ++i) {
        char c = token[i];
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        if (c != kUnattendedOption[i]) return false;
    }
    return true;
}

// Handles one finished token at its position; returns the next position. A
// refusal sets showUsage; the path stays what it was before it.
int HandleToken(const std::string& token, int position, CommandLineRequest* request) {
    if (token == kUsageOption) {
        request->showUsage = request->helpAsked = true;
        return position;
    }
    if (position == kProgramNamePosition) return position + 1;
    if (IsUnattendedOption(token)) {
        request->unattended = true;
        return position;
    }
    if (position == kPathPosition && !request->showUsage) {
        request->targetPath = token;
    } else {
        request->showUsage = true;
    }
    return position + 1;
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
            position = HandleToken(token, position, &request);
            token.clear();
        } else {
            token += byte;
        }
    }
    return request;
}

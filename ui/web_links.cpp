#include "ui/web_links.h"

#include <windows.h>

#include "platform/system_hooks.h"
#include "platform/scoped_key.h"

const LinkArea kLinks[kLinkCount] = {
    {"什麼是 Patch 檔?", 137, 347, 137, 349, 243, 361, kAuthorPatchPage},
    {"那裡有更多的中文化檔?", 275, 347, 275, 349, 429, 361, kGroupHomePage},
};

namespace {

constexpr char kHtmlExtensionKey[] = ".htm";
constexpr char kOpenCommandSuffix[] = "\\shell\\open\\command";
constexpr DWORD kRegistryValueBufferSize = 301;
constexpr UINT kMinimumSuccessfulExecResult = 32;
constexpr char kFailureCaption[] = "Info";
constexpr char kFailureLead[] = "無法自動執行系統預設的網際網路瀏覽器，請找出它並執行";
constexpr size_t kFailureBlankCount = 24;
constexpr char kFailureTail[] = "\" manually.";

// The default value of HKEY_CLASSES_ROOT\keyPath, cut at its first zero byte.
bool ReadClassesDefaultValue(const std::string& keyPath, std::string* value) {
    ScopedKey key;
    if (RegOpenKeyExA(HKEY_CLASSES_ROOT, keyPath.c_str(), 0, KEY_READ, key.out()) !=
        ERROR_SUCCESS) {
        return false;
    }
    char buffer[kRegistryValueBufferSize + 1] = {};  // the extra byte ends unterminated values
    DWORD size = kRegistryValueBufferSize;
    if (RegQueryValueExA(key.get(), nullptr, nullptr, nullptr, reinterpret_cast<BYTE*>(buffer),
                         &size) != ERROR_SUCCESS) {
        return false;
    }
    *value = buffer;
    return true;
}

bool StartBrowser(const char* address) {
    std::string typeName;
    if (!ReadClassesDefaultValue(kHtmlExtensionKey, &typeName) || typeName.empty()) return false;
    std::string commandTemplate;
    if (!ReadClassesDefaultValue(typeName + kOpenCommandSuffix, &commandTemplate)) return false;
    const std::string command = BuildBrowserCommand(commandTemplate, address);
    return WinExec(command.c_str(), SW_SHOW) >= kMinimumSuccessfulExecResult;
}

bool Inside(const LinkArea& link, int x, int y) {
    return x >= link.left && x <= link.right && y >= link.top && y <= link.bottom;
}

}  // namespace

const char* LinkAddressAt(int x, int y) {
    for (const LinkArea& link : kLinks) {
        if (Inside(link, x, y)) return link.address;
    }
    return nullptr;
}

std::string BuildBrowserCommand(const std::string& commandTemplate, const std::string& address) {
    std::string command;
    bool placed = false;
    for (size_t i = 0; i < commandTemplate.size(); ++i) {
        if (commandTemplate[i] == '%' && i + 1 < commandTemplate.size() &&
            commandTemplate[i + 1] == '1') {
            command += address;
            placed = true;
            ++i;
        } else {
            command += commandTemplate[i];
        }
    }
    if (!placed) command += " " + address;
    return command;
}

std::string BrowserFailureText(const std::string& address) {
    return kFailureLead + std::string(kFailureBlankCount, ' ') + '"' + address + kFailureTail;
}

void OpenWebLink(const char* address) {
    if (StartBrowser(address)) return;
    ShowMessageBox(0, BrowserFailureText(address).c_str(), kFailureCaption, MB_OK);
}

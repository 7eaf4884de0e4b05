// The two web links of the window and the start of the default browser.
#pragma once
#include <string>

// The only place that names the two pages.
constexpr char kAuthorPatchPage[] = "http://www.velistra.example/patchfile.htm";
constexpr char kGroupHomePage[] = "http://www.orvanel.example/";

struct LinkArea {
    const char* text;
    int textX;
    int textY;
    int left, top, right, bottom;  // click area, bounds inclusive
    const char* address;
};

constexpr int kLinkCount = 2;
extern const LinkArea kLinks[kLinkCount];

// The address whose click area holds the client point, or null.
const char* LinkAddressAt(int x, int y);

// Starts the browser registered for ".htm" with the address, or tells the
// user to open it by hand.
void OpenWebLink(const char* address);

// The browser's command with every "%1" replaced by the address, or the
// address appended after a blank when there is no "%1".
std::string BuildBrowserCommand(const std::string& commandTemplate, const std::string& address);
// The text of the box shown when the browser cannot be started.
std::string BrowserFailureText(const std::string& address);

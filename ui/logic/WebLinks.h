// The web panels' rules that need no browser: the machine checksum that
// decorates news links opened in the system browser, the adapter address
// text it is made from, the web page window's close hook and the "/web:"
// argument of the program entry.
#pragma once
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

// Caption and waiting line of the web page window TfrmWebPage.
constexpr const char* WebPageCaption = "\xBC\xD3\xD4\xD8\xD2\xB3\xC3\xE6";  // "加载页面"
constexpr const char* WebPageWaitingLine =
    "\xD5\xFD\xD4\xDA\xBC\xD3\xD4\xD8\xC7\xEB\xC9\xD4\xB5\xC8 ...";  // "正在加载请稍等 ..."
constexpr int WebPageClientWidth = 457;
constexpr int WebPageClientHeight = 558;
// DOCHOSTUIFLAG_DIALOG | NO3DBORDER | SCROLL_NO | OPENNEWWIN |
// ENABLE_FORMS_AUTOCOMPLETE | THEME | USE_WINDOWED_SELECTCONTROL
constexpr uint32_t WebHostFlags = 0x1004402D;

// The address of a hardware adapter: each of its bytes as two upper-case
// hexadecimal digits, joined by "-".
std::string FormatAdapterAddress(const uint8_t* address, size_t length);

// The MAC text of the checksum: adapters 0 to 3 in turn, the first whose
// text does not hold "00-00-00-00-00-00" (an empty text ends the search as
// well); when all four hold it, adapter 3's text.
std::string ChooseMacText(const std::function<std::string(int)>& adapterMac);

// MD5 of "7391" + mac + "0839", as 32 lower-case hexadecimal digits.
std::string MachineCrc(const std::string& macText);

// The URL with "&crc=" (when it holds a "?") or "?crc=" and the checksum.
std::string DecorateUrl(const std::string& url, const std::string& crc);

// A link of the news panel that the system browser may open: its scheme
// (the text before the first ":") is "http" or "https" in any letter case.
// Every other scheme (file, javascript, a registered protocol handler) would
// run something on the player's machine through the shell.
bool IsWebLink(const std::string& url);

// The web page window's close hook: the target, turned to lower case,
// contains "#close".
bool IsCloseRequest(const std::string& url);

// The registration button's command line arguments: "/web:" + the page.
std::string WebPageArguments(const std::string& registryPageUrl);

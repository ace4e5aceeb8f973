#include "servers/uConfig.h"

#include <algorithm>
#include <cmath>
#include <nlohmann/json.hpp>

#include "common/Format.h"
#include "common/Log.h"
#include "net/uUDPEcho.h"
#include "platform/CodePage.h"
#include "package/LauncherConfig.h"
#include "platform/File.h"

const char* const DefaultMemberText = "\xCD\xC6\xBC\xF6";  // "推荐" in code page 936

namespace {

// Members keep their document order, which the reading order follows.
using TJson = nlohmann::ordered_json;

// The parser has already checked that strings are well-formed UTF-8.
std::u16string Utf8ToUtf16(const std::string& text) {
  std::u16string wide;
  wide.reserve(text.size());
  for (size_t i = 0; i < text.size();) {
    const unsigned char lead = static_cast<unsigned char>(text[i]);
    const size_t count = lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
    if (i + count > text.size()) break;
    uint32_t code = count == 1 ? lead : count == 2 ? (lead & 0x1Fu) : count == 3 ? (lead & 0x0Fu) : (lead & 0x07u);
    for (size_t k = 1; k < count; ++k) code = (code << 6) | (static_cast<unsigned char>(text[i + k]) & 0x3Fu);
    i += count;
    if (code >= 0x10000) {
      code -= 0x10000;
      wide += static_cast<char16_t>(0xD800 + (code >> 10));
      wide += static_cast<char16_t>(0xDC00 + (code & 0x3FF));
    } else {
      wide += static_cast<char16_t>(code);
    }
  }
  return wide;
}

// JSON numbers round to the nearest integer, ties to even; the record keeps
// the low 32 bits of the result.
uint32_t LowBitsOfNumber(const TJson& value) {
  if (value.is_number_unsigned()) return static_cast<uint32_t>(value.get<uint64_t>());
  if (value.is_number_integer()) return static_cast<uint32_t>(value.get<int64_t>());
  double rounded = std::nearbyint(value.get<double>());
  rounded = std::fmod(rounded, 4294967296.0);
  if (rounded < 0) rounded += 4294967296.0;
  return static_cast<uint32_t>(static_cast<uint64_t>(rounded));
}

uint32_t ReadNumber(const TJson& server, const char* name) {
  const auto member = server.find(name);
  if (member == server.end()) return 0;
  if (!member->is_number()) throw EServerListError(std::string("server list: \"") + name + "\" is not a number");
  return LowBitsOfNumber(*member);
}

int32_t ReadInt(const TJson& server, const char* name) { return static_cast<int32_t>(ReadNumber(server, name)); }

std::string ReadUtf8(const TJson& server, const char* name) {
  const auto member = server.find(name);
  if (member == server.end()) return std::string();
  if (!member->is_string()) throw EServerListError(std::string("server list: \"") + name + "\" is not a string");
  return member->get<std::string>();
}

std::string ReadAnsi(const TJson& server, const char* name) { return Utf8ToCp936(ReadUtf8(server, name)); }

bool IsServerMember(const std::string& key) {
  if (key.size() != 6) return false;
  std::string lower = key;
  for (char& c : lower)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
  return lower == "server";
}

std::shared_ptr<TServerInfo> ReadRecord(const TJson& server) {
  if (!server.is_object()) throw EServerListError("server list: an element of \"server\" is not an object");
  auto record = std::make_shared<TServerInfo>();
  record->name = Utf8ToUtf16(ReadUtf8(server, "name"));
  record->alias = Utf8ToUtf16(ReadUtf8(server, "alias"));
  record->ip = ReadAnsi(server, "ip");
  record->port = ReadInt(server, "port");
  record->id = ReadInt(server, "id");
  record->recommend = static_cast<uint8_t>(ReadNumber(server, "recommend"));
  record->default_ = ReadInt(server, "default");
  record->version = ReadInt(server, "version");
  record->patchurl = ReadAnsi(server, "patchurl");
  record->opentime = ReadInt(server, "opentime");
  record->member = ReadAnsi(server, "member");
  record->test = ReadInt(server, "test");
  record->authtype = ReadInt(server, "authtype");
  record->clienttype = ReadInt(server, "clienttype");
  if (record->alias.empty()) record->alias = record->name;
  record->rtt = -1;
  return record;
}

// "a.b.c.d", each part 1 to 3 digits of at most 255.
bool IsDottedQuad(const std::string& text) {
  int parts = 0, digits = 0, value = 0;
  for (const char c : text) {
    if (c == '.') {
      if (digits == 0 || ++parts > 3) return false;
      digits = value = 0;
    } else if (c >= '0' && c <= '9') {
      value = value * 10 + (c - '0');
      if (++digits > 3 || value > 255) return false;
    } else {
      return false;
    }
  }
  return parts == 3 && digits > 0;
}

bool IsControl(char16_t c) { return c < 0x20 || (c >= 0x7F && c <= 0x9F); }

}  // namespace

std::string UnsafeRecordReason(const TServerInfo& record) {
  size_t start = 0;
  while (start <= record.ip.size()) {
    size_t end = record.ip.find('|', start);
    if (end == std::string::npos) end = record.ip.size();
    if (end > start && !IsDottedQuad(record.ip.substr(start, end - start)))
      return "\"ip\" is not IPv4 addresses joined by |";
    start = end + 1;
  }
  for (const char16_t c : record.name)
    if (c == u'"' || c == u'/' || IsControl(c)) return "\"name\" holds a double quote, / or a control character";
  return std::string();
}

TServerFilter LauncherServerFilter(const std::string& launcherFolder, const std::string& onlyAwakeSwitch) {
  TServerFilter filter;
  filter.showTest = FileExists(launcherFolder + ShowTestFileName);
  filter.onlyAwake = IsSwitchOn(onlyAwakeSwitch);
  return filter;
}

TServerConfig::TServerConfig(const std::string& launcherFolder, TUDPEchoServer* echo)
    : FLauncherFolder(launcherFolder), FEcho(echo) {
  if (FEcho != nullptr)
    FEcho->SetOnEcho([this](const std::string& address, int32_t rtt, int32_t key) { UpdateLatency(address, rtt, key); }, this);
}

TServerConfig::~TServerConfig() {
  // After this returns the echo worker is not inside UpdateLatency and will
  // not enter it again.
  if (FEcho != nullptr) FEcho->ReleaseOnEcho(this);
  Clear();
}

void TServerConfig::Clear() {
  TServerList servers, priority;
  {
    std::lock_guard<std::mutex> guard(FRecordsLock);
    servers.swap(FServers);
    priority.swap(FPriorityServers);
  }
}

void TServerConfig::Install(TServerList&& servers, TServerList&& priority) {
  std::lock_guard<std::mutex> guard(FRecordsLock);
  FServers = std::move(servers);
  FPriorityServers = std::move(priority);
}

void TServerConfig::ReadServers(const void* serverArray, const TServerFilter& filter, TServerList& servers,
                                TServerList& priority) {
  for (const TJson& element : *static_cast<const TJson*>(serverArray)) {
    std::shared_ptr<TServerInfo> record = ReadRecord(element);
    const std::string unsafe = UnsafeRecordReason(*record);
    if (!unsafe.empty()) {
      LogError(Format("server list: record id=%d left out: ", record->id) + unsafe);
      continue;
    }
    bool kept = filter.showTest || record->test == 0;
    if (filter.onlyAwake) kept = kept && record->clienttype != 0;
    if (!kept) continue;
    if (record->member.empty()) record->member = DefaultMemberText;
    if (record->recommend == 2) {
      if (record->default_ > 0) FDefaultServer = record;
      priority.push_back(std::move(record));
    } else {
      servers.push_back(std::move(record));
    }
  }
}

bool TServerConfig::LoadFromText(const std::string& document, const TServerFilter& filter) {
  Clear();
  if (document.size() > MaxServerListDocument) return false;
  const TJson root = TJson::parse(Cp936ToUtf8(document), nullptr, false);
  if (root.is_discarded()) return false;
  TServerList servers, priority;
  try {
    if (!root.is_object()) throw EServerListError("server list: the document is not a JSON object");
    for (const auto& member : root.items())
      if (IsServerMember(member.key()) && member.value().is_array()) ReadServers(&member.value(), filter, servers, priority);
  } catch (...) {
    Install(std::move(servers), std::move(priority));
    throw;
  }
  std::sort(servers.begin(), servers.end(), [](const auto& a, const auto& b) {
    return static_cast<uint32_t>(a->opentime) > static_cast<uint32_t>(b->opentime);
  });
  Install(std::move(servers), std::move(priority));
  return !FServers.empty();
}

TServerInfo* TServerConfig::FindById(int32_t id) const {
  TServerInfo* found = nullptr;
  for (const auto& record : FPriorityServers)
    if (record->id == id) {
      found = record.get();
      break;
    }
  for (const auto& record : FServers)
    if (record->id == id) {
      found = record.get();
      break;
    }
  if (found != nullptr) return found;
  if (FDefaultServer) return FDefaultServer.get();
  if (!FPriorityServers.empty()) return FPriorityServers.front().get();
  if (!FServers.empty()) return FServers.front().get();
  return nullptr;
}

void TServerConfig::UpdateLatency(const std::string& address, int32_t rtt, int32_t key) {
  std::lock_guard<std::mutex> guard(FRecordsLock);
  const bool priority = (key & 0x8000) != 0;
  const TServerList& list = priority ? FPriorityServers : FServers;
  const int64_t position = priority ? (key & 0x7FFF) : key;
  if (position < 1 || position > static_cast<int64_t>(list.size())) return;
  TServerInfo& record = *list[static_cast<size_t>(position - 1)];
  if (record.ip != address) return;
  record.echoPending = 0;
  record.rtt = rtt;
}

TServerInfo TServerConfig::CopyRecord(const TServerInfo& record) const {
  std::lock_guard<std::mutex> guard(FRecordsLock);
  return record;
}

#include "net/uDnsLookup.h"

#include <chrono>
#include <cstring>

#include "platform/Tick.h"

#ifndef LAUNCHER_PUBLIC_DNS_SERVERS
#define LAUNCHER_PUBLIC_DNS_SERVERS "8.8.8.8,8.8.4.4,114.114.114.114,114.114.115.115,223.5.5.5,223.6.6.6,180.76.76.76,119.29.29.29"
#endif
#ifndef LAUNCHER_DNS_PORT
#define LAUNCHER_DNS_PORT 53
#endif

namespace {

constexpr int MaxLabelLength = 63;
constexpr size_t MaxPublicServers = 8;

uint16_t Read16(const uint8_t* at) { return static_cast<uint16_t>(at[0] << 8 | at[1]); }
uint32_t Read32(const uint8_t* at) {
  return static_cast<uint32_t>(at[0]) << 24 | static_cast<uint32_t>(at[1]) << 16 | static_cast<uint32_t>(at[2]) << 8 |
         at[3];
}
void Write16(uint8_t* at, uint16_t value) {
  at[0] = static_cast<uint8_t>(value >> 8);
  at[1] = static_cast<uint8_t>(value);
}

bool IsPointer(uint8_t byte) { return (byte & 0xC0) == 0xC0; }

// Record data is read only inside [position, end).
class TRecordData {
public:
  TRecordData(const uint8_t* reply, int length, int position, int end)
      : FReply(reply), FLength(length), FPosition(position), FEnd(end) {}

  bool Number16(std::string& text) {
    if (FPosition + 2 > FEnd) return false;
    text += std::to_string(Read16(FReply + FPosition));
    FPosition += 2;
    return true;
  }
  bool Number32(std::string& text) {
    if (FPosition + 4 > FEnd) return false;
    text += std::to_string(Read32(FReply + FPosition));
    FPosition += 4;
    return true;
  }
  bool Name(std::string& text) {
    if (FPosition >= FEnd) return false;
    text += ReadDnsName(FReply, FLength, FPosition);
    return FPosition <= FEnd;
  }
  bool CharacterString(std::string& text) {
    if (FPosition >= FEnd) return false;
    const int size = FReply[FPosition];
    if (FPosition + 1 + size > FEnd) return false;
    text.append(reinterpret_cast<const char*>(FReply + FPosition + 1), size);
    FPosition += 1 + size;
    return true;
  }
  bool AtEnd() const { return FPosition >= FEnd; }

private:
  const uint8_t* FReply;
  int FLength;
  int FPosition;
  int FEnd;
};

// Names joined by ",", each read from the data.
bool Names(TRecordData& data, int count, std::string& text) {
  for (int i = 0; i < count; ++i) {
    if (i > 0) text += ",";
    if (!data.Name(text)) return false;
  }
  return true;
}

// The text of one record's data by its type; empty for types without a
// rendering and for data that ends early.
std::string RenderRecord(int type, TRecordData data) {
  std::string text;
  bool complete = false;
  switch (type) {
    case 2: case 3: case 4: case 5: case 7: case 8: case 9: case 12: case 19: case 22: case 23:
      complete = data.Name(text);
      break;
    case 6:  // SOA: two names and five numbers
      complete = Names(data, 2, text);
      for (int i = 0; complete && i < 5; ++i) {
        text += ",";
        complete = data.Number32(text);
      }
      break;
    case 13:  // HINFO
      complete = data.CharacterString(text) && (text += ",", data.CharacterString(text));
      break;
    case 14: case 17: case 20:
      complete = Names(data, 2, text);
      break;
    case 15: case 18: case 21: case 36:  // MX and the like: preference, name
      complete = data.Number16(text) && (text += ",", data.Name(text));
      break;
    case 16: case 99:  // TXT: every character-string, concatenated
      complete = true;
      while (complete && !data.AtEnd()) complete = data.CharacterString(text);
      break;
    case 26:
      complete = data.Number16(text) && (text += ",", Names(data, 2, text));
      break;
    case 27:
      complete = Names(data, 3, text);
      break;
    case 33:  // SRV: priority, weight, port, target
      complete = data.Number16(text) && (text += ",", data.Number16(text)) && (text += ",", data.Number16(text)) &&
                 (text += ",", data.Name(text));
      break;
    default:
      break;
  }
  return complete ? text : std::string();
}

// Moves past one question's name: labels up to the zero byte, or up to and
// including a pointer.
void SkipName(const uint8_t* reply, int length, int& position) {
  while (position < length) {
    const uint8_t byte = reply[position];
    if (byte == 0) {
      ++position;
      return;
    }
    if (IsPointer(byte)) {
      position += 2;
      return;
    }
    position += 1 + byte;
  }
}

// "host" or "host:port".
void SplitServer(const std::string& server, std::string& host, uint16_t& port) {
  host = server;
  port = DnsServerPort();
  const size_t colon = server.rfind(':');
  if (colon == std::string::npos) return;
  const std::string digits = server.substr(colon + 1);
  host = server.substr(0, colon);
  int value = 0;
  for (char c : digits) {
    if (c < '0' || c > '9' || value > 65535) return;
    value = value * 10 + (c - '0');
  }
  if (!digits.empty() && value > 0 && value <= 65535) port = static_cast<uint16_t>(value);
}

}  // namespace

int BuildDnsQuery(const std::string& hostName, uint16_t id, int queryType, uint8_t* buffer, int capacity) {
  std::string name = hostName;
  if (!name.empty() && name.back() == '.') name.pop_back();
  // Header, the name's labels with their length bytes, the root's zero
  // byte, QTYPE and QCLASS.
  const int length = DnsHeaderSize + (name.empty() ? 1 : static_cast<int>(name.size()) + 2) + 4;
  if (length > capacity) return -1;
  std::memset(buffer, 0, DnsHeaderSize);
  Write16(buffer, id);
  Write16(buffer + 2, 0x0100);
  Write16(buffer + 4, 1);
  int at = DnsHeaderSize;
  if (!name.empty()) {
    int lengthByte = at++;
    int label = 0;
    for (char c : name) {
      if (c != '.') {
        buffer[at++] = static_cast<uint8_t>(c);
        ++label;
        continue;
      }
      if (label == 0 || label > MaxLabelLength) return -1;
      buffer[lengthByte] = static_cast<uint8_t>(label);
      lengthByte = at++;
      label = 0;
    }
    if (label == 0 || label > MaxLabelLength) return -1;
    buffer[lengthByte] = static_cast<uint8_t>(label);
  }
  buffer[at++] = 0;
  Write16(buffer + at, static_cast<uint16_t>(queryType));
  Write16(buffer + at + 2, 1);
  return at + 4;
}

std::string ReadDnsName(const uint8_t* reply, int length, int& position) {
  std::string text;
  int at = position;
  // Start of the part of the name being read; a pointer must lead before it,
  // so that every jump goes strictly backwards and a loop cannot form.
  int segmentStart = position;
  bool jumped = false;
  // The dot in front of a pointer also stands in front of the name it leads to.
  bool justJumped = false;
  int jumps = 0;
  while (at < length) {
    const uint8_t size = reply[at++];
    if (size == 0) break;
    const bool separate = !text.empty() && !justJumped;
    justJumped = false;
    if (IsPointer(size)) {
      if (at >= length) break;
      const int target = (size & 0x3F) << 8 | reply[at++];
      if (!jumped) position = at;
      jumped = true;
      if (target >= segmentStart || ++jumps > DnsMaxNameJumps) break;
      if (separate) text += ".";
      at = segmentStart = target;
      justJumped = true;
      continue;
    }
    if (separate) text += ".";
    const int available = std::min<int>(size, length - at);
    text.append(reinterpret_cast<const char*>(reply + at), available);
    at += available;
    if (text.size() > DnsMaxNameText) break;
  }
  if (!jumped) position = at;
  if (text.size() > DnsMaxNameText) text.resize(DnsMaxNameText);
  return text;
}

std::string ReadDnsRecord(const uint8_t* reply, int length, int& position, int queryType) {
  ReadDnsName(reply, length, position);
  const int p = position;
  if (p + 10 > length) {
    position = length;
    return std::string();
  }
  const int type = Read16(reply + p);
  const int dataLength = Read16(reply + p + 8);
  const int dataStart = p + 10;
  const int dataEnd = dataStart + dataLength;
  position = dataEnd;
  if (dataEnd > length || type != queryType) return std::string();
  if (type == DnsTypeA) {
    if (dataLength < 4) return std::string();
    const uint8_t* a = reply + dataStart;
    return std::to_string(a[0]) + "." + std::to_string(a[1]) + "." + std::to_string(a[2]) + "." + std::to_string(a[3]);
  }
  return RenderRecord(type, TRecordData(reply, length, dataStart, dataEnd));
}

int32_t ParseDnsReply(const uint8_t* reply, int length, uint16_t id, int queryType, std::vector<std::string>& results) {
  if (length < DnsHeaderSize || Read16(reply) != id) return DnsNoReply;
  results.clear();
  const uint16_t flags = Read16(reply + 2);
  const int questions = Read16(reply + 4);
  const int answers = Read16(reply + 6);
  if ((flags & 0x000F) != 0) return DnsReplyReceived;
  int position = DnsHeaderSize;
  for (int i = 0; i < questions && position < length; ++i) {
    SkipName(reply, length, position);
    position += 4;
  }
  for (int i = 0; i < answers && position < length; ++i) {
    std::string text = ReadDnsRecord(reply, length, position, queryType);
    if (!text.empty()) results.push_back(std::move(text));
  }
  return DnsReplyReceived;
}

TUDPDnsLookup::TUDPDnsLookup() {
  std::random_device device;
  const auto now = std::chrono::steady_clock::now().time_since_epoch().count();
  FRandom.seed(static_cast<uint32_t>(now) ^ device());
}

TUDPDnsLookup::~TUDPDnsLookup() { CloseSocket(); }

bool TUDPDnsLookup::OpenSocket() {
  FSocket = SocketCreateUdp();
  if (FSocket == InvalidSocket) return false;
  TSocketAddress local;
  if (SocketBind(FSocket, local) != 0 || SocketLocalAddress(FSocket, local) != 0) {
    CloseSocket();
    return false;
  }
  FLocalPort = local.Port;
  return true;
}

void TUDPDnsLookup::CloseSocket() {
  if (FSocket == InvalidSocket) return;
  SocketClose(FSocket);
  FSocket = InvalidSocket;
}

int32_t TUDPDnsLookup::Lookup(const std::string& server, const std::string& hostName,
                              std::vector<std::string>& results, int32_t queryType) {
  try {
    if (!OpenSocket()) return DnsSocketFailed;
  } catch (const ESocketError&) {
    return DnsSocketFailed;
  }
  FQueryId = static_cast<uint16_t>(std::uniform_int_distribution<int>(0, 32766)(FRandom));
  const int queryLength = BuildDnsQuery(hostName, FQueryId, queryType, FMessage, DnsMessageSize);

  std::string host;
  TSocketAddress address;
  SplitServer(server, host, address.Port);
  std::vector<uint32_t> addresses;
  int32_t result = DnsSendFailed;
  if (queryLength > 0 && (ParseIPv4(host, address.Address) || ResolveIPv4(host, addresses))) {
    if (!addresses.empty()) address.Address = addresses.front();
    result = Exchange(address, queryLength, results, queryType);
  }
  CloseSocket();
  return result;
}

// Sends the query and waits for the server's reply with the query's ID;
// datagrams from elsewhere or with another ID are passed over.
int32_t TUDPDnsLookup::Exchange(const TSocketAddress& server, int queryLength, std::vector<std::string>& results,
                                int32_t queryType) {
  if (SocketSendTo(FSocket, FMessage, queryLength, server) != queryLength) return DnsSendFailed;
  const uint32_t started = GetTickCount32();
  for (;;) {
    const uint32_t waited = GetTickCount32() - started;
    if (waited >= static_cast<uint32_t>(DnsReplyWaitMs)) return DnsNoReply;
    if (SocketWaitReadable(FSocket, DnsReplyWaitMs - static_cast<int>(waited)) != 1) return DnsNoReply;
    TSocketAddress from;
    FReplyLength = SocketRecvFrom(FSocket, FMessage, DnsMessageSize, &from);
    if (FReplyLength < 0) return DnsNoReply;
    if (from.Address != server.Address || from.Port != server.Port) continue;
    if (FReplyLength < DnsHeaderSize) return DnsNoReply;
    if (Read16(FMessage) != FQueryId) continue;
    return ParseDnsReply(FMessage, FReplyLength, FQueryId, queryType, results);
  }
}

const std::vector<std::string>& PublicDnsServers() {
  static const std::vector<std::string> servers = [] {
    std::vector<std::string> list;
    const std::string text = LAUNCHER_PUBLIC_DNS_SERVERS;
    size_t start = 0;
    while (start <= text.size()) {
      const size_t comma = std::min(text.find(',', start), text.size());
      if (comma > start) list.push_back(text.substr(start, comma - start));
      start = comma + 1;
    }
    return list;
  }();
  return servers;
}

uint16_t DnsServerPort() { return static_cast<uint16_t>(LAUNCHER_DNS_PORT); }

void ResolveHostAddresses(const std::string& name, std::vector<std::string>& results) {
  results.clear();
  uint32_t address;
  if (ParseIPv4(name, address)) {
    results.push_back(name);
    return;
  }
  std::vector<uint32_t> addresses;
  try {
    if (!ResolveIPv4(name, addresses)) return;
  } catch (const ESocketError&) {
    return;
  }
  for (uint32_t each : addresses) results.push_back(IPv4Text(each));
}

void ResolveByDnsServers(const std::vector<std::string>& servers, const std::string& hostName,
                         std::vector<std::string>& results) {
  // A lookup that gets no reply leaves the list as it was: start empty, so
  // that only an answer ends the walk.
  results.clear();
  for (size_t i = 0; i < servers.size() && i < MaxPublicServers; ++i) {
    TUDPDnsLookup lookup;
    lookup.Lookup(servers[i], hostName, results, DnsTypeA);
    if (!results.empty()) return;
  }
}

void ResolveByPublicDns(const std::string& hostName, std::vector<std::string>& results) {
  ResolveByDnsServers(PublicDnsServers(), hostName, results);
}

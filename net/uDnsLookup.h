// The launcher's own DNS client (RFC 1035 over UDP) and the two ways the
// launcher resolves host names: the system resolver and the walk over the
// public DNS servers.
#pragma once
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "platform/Socket.h"

constexpr int DnsTypeA = 1;
constexpr int DnsMessageSize = 1024;
constexpr int DnsHeaderSize = 12;
// A lost reply must not stop the caller for good: the wait for it is bounded.
constexpr int DnsReplyWaitMs = 2000;
// Compression pointers a name may follow before it is cut off.
constexpr int DnsMaxNameJumps = 16;
// A name read from a reply is cut at this length.
constexpr size_t DnsMaxNameText = 1024;

// Results of TUDPDnsLookup::Lookup.
enum : int32_t {
  DnsReplyReceived = 1,
  DnsSocketFailed = -1,
  DnsSendFailed = -2,
  DnsNoReply = -3,
};

// One query to one server; used for one Lookup and then freed.
class TUDPDnsLookup {
public:
  TUDPDnsLookup();
  ~TUDPDnsLookup();
  TUDPDnsLookup(const TUDPDnsLookup&) = delete;
  TUDPDnsLookup& operator=(const TUDPDnsLookup&) = delete;

  // Asks `server` (dotted IPv4 or a host name, optionally ":port"; the port
  // defaults to DnsServerPort()) for the records of `queryType` of
  // `hostName`. Returns DnsReplyReceived (the answers of that type are in
  // `results`), DnsSocketFailed, DnsSendFailed (also for a host name that
  // cannot be encoded) or DnsNoReply (no reply with the query's ID from the
  // server within DnsReplyWaitMs, a receive error or a reply shorter than the
  // header; `results` is then left as it was).
  int32_t Lookup(const std::string& server, const std::string& hostName, std::vector<std::string>& results,
                 int32_t queryType);

private:
  bool OpenSocket();
  void CloseSocket();
  int32_t Exchange(const TSocketAddress& server, int queryLength, std::vector<std::string>& results, int32_t queryType);

  TSocketHandle FSocket = InvalidSocket;
  uint16_t FLocalPort = 0;
  int32_t FReplyLength = 0;
  uint16_t FQueryId = 0;
  uint8_t FMessage[DnsMessageSize];
  std::mt19937 FRandom;
};

// The pieces of a lookup, on memory only.

// Writes the query for `hostName` into `buffer`: header with `id`, flags
// 0x0100 and one question. The empty name is the root name and a trailing
// dot is dropped. Returns the query's length, or -1 when the name has an
// empty or over-long (above 63 bytes) label or does not fit `capacity`.
int BuildDnsQuery(const std::string& hostName, uint16_t id, int queryType, uint8_t* buffer, int capacity);

// Parses a reply of `length` bytes: returns DnsNoReply when it is shorter
// than the header or its ID is not `id`; otherwise empties `results`,
// appends the texts of the answers of `queryType` (only when the RCODE is 0)
// and returns DnsReplyReceived. Never reads beyond `length` bytes.
int32_t ParseDnsReply(const uint8_t* reply, int length, uint16_t id, int queryType, std::vector<std::string>& results);

// Reads a possibly compressed name at `position` and moves `position` past
// it. A pointer must lead to an offset before the part of the name that
// contains it, and at most DnsMaxNameJumps are followed.
std::string ReadDnsName(const uint8_t* reply, int length, int& position);

// Reads one resource record at `position` and moves `position` past it.
// Returns its data as text when its type is `queryType`, else empty text.
std::string ReadDnsRecord(const uint8_t* reply, int length, int& position, int queryType);

// The build's public DNS servers (at most eight are asked) and their port.
const std::vector<std::string>& PublicDnsServers();
uint16_t DnsServerPort();

// The system resolver: `results` becomes every IPv4 address of `name` as
// dotted text, in the system's order; a dotted IPv4 `name` is returned as it
// is. Empty when the name does not resolve.
void ResolveHostAddresses(const std::string& name, std::vector<std::string>& results);

// Asks the public DNS servers in order for the A records of `hostName` and
// stops at the first that yields an address.
void ResolveByPublicDns(const std::string& hostName, std::vector<std::string>& results);
// The same walk over a given list of servers ("a.b.c.d" or "a.b.c.d:port").
void ResolveByDnsServers(const std::vector<std::string>& servers, const std::string& hostName,
                         std::vector<std::string>& results);

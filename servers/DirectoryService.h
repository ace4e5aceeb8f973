// The directory service's side of the exchange, for the operator tool: the
// server list documents per game id, the replies built from them (zlib when
// large, split into datagrams of at most 16 KiB) and a request limit per
// source address. No sockets here; the tool moves the datagrams.
#pragma once
#include <cstdint>
#include <map>
#include <string>
#include <unordered_map>
#include <vector>

struct TDirectoryServiceOptions {
  // Documents longer than this travel zlib-compressed.
  size_t compressAbove = 8192;
  // Requests answered per second and source address (0: no limit), and the
  // burst a quiet source may use at once.
  uint32_t ratePerSecond = 20;
  uint32_t burst = 40;
  // Source addresses remembered for the limit.
  size_t maxSources = 4096;
  // Request frames answered from one datagram.
  size_t maxRequestsPerDatagram = 4;
};

struct TDirectoryServiceCounters {
  uint64_t datagrams = 0;
  uint64_t answered = 0;
  uint64_t limited = 0;
  uint64_t unknownGame = 0;
  uint64_t notARequest = 0;
};

using TDatagrams = std::vector<std::vector<uint8_t>>;
// Datagrams of prepared replies, valid until the next load.
using TReplyDatagrams = std::vector<const std::vector<uint8_t>*>;

class TDirectoryService {
public:
  explicit TDirectoryService(const TDirectoryServiceOptions& options = {});

  // The servers file: a JSON object whose member names are game ids in
  // decimal and whose values are server list documents (an object, written
  // out as text in code page 936, or a string sent as it is). On failure the
  // documents loaded before stay and `error` says why.
  bool LoadText(const std::string& json, std::string& error);
  bool LoadFile(const std::string& path, std::string& error);
  // Loads the file again when its contents changed since the last load;
  // `reloaded` tells whether it did.
  bool ReloadIfChanged(const std::string& path, std::string& error, bool& reloaded);

  // The reply datagrams for one received datagram (none for anything that
  // is not a request of a known game, or beyond the source's limit).
  TReplyDatagrams Answer(const uint8_t* data, size_t length, uint32_t sourceAddress, uint32_t nowMs);

  size_t GameCount() const { return FReplies.size(); }
  const TDirectoryServiceCounters& Counters() const { return FCounters; }
  // The reply of one game id as it goes out, for tests and the benchmark.
  const TDatagrams* ReplyOf(uint32_t gameId) const;

private:
  struct TBucket {
    double tokens = 0;
    uint32_t lastMs = 0;
  };
  bool Admit(uint32_t sourceAddress, uint32_t nowMs);

  TDirectoryServiceOptions FOptions;
  std::map<uint32_t, TDatagrams> FReplies;
  std::unordered_map<uint32_t, TBucket> FBuckets;
  std::string FLoadedText;
  bool FLoadedOnce = false;
  TDirectoryServiceCounters FCounters;
};

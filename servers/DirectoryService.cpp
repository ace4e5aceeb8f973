#include "servers/DirectoryService.h"

#include <nlohmann/json.hpp>

#include "servers/DirectoryExchange.h"
#include "servers/DirectoryFrame.h"
#include "common/Format.h"
#include "platform/CodePage.h"
#include "platform/File.h"

namespace {

using TJson = nlohmann::ordered_json;

// Servers files are read whole; anything larger is refused.
constexpr int64_t MaxServersFile = 64 * 1024 * 1024;

bool ReadFileText(const std::string& path, std::string& text, std::string& error) {
  try {
    TFileStream file(path, TFileMode::ReadShared);
    const int64_t size = file.Size();
    if (size > MaxServersFile) {
      error = Format("%s: larger than %d bytes", path.c_str(), static_cast<int>(MaxServersFile));
      return false;
    }
    text.assign(static_cast<size_t>(size), '\0');
    file.ReadBuffer(text.data(), text.size());
    return true;
  } catch (const std::exception& e) {
    error = e.what();
    return false;
  }
}

}  // namespace

TDirectoryService::TDirectoryService(const TDirectoryServiceOptions& options) : FOptions(options) {}

bool TDirectoryService::LoadText(const std::string& json, std::string& error) {
  const TJson root = TJson::parse(json, nullptr, false);
  if (root.is_discarded() || !root.is_object()) {
    error = "the servers file is not a JSON object";
    return false;
  }
  std::map<uint32_t, TDatagrams> replies;
  for (const auto& member : root.items()) {
    int32_t gameId = 0;
    if (!ParseGameId(member.key(), gameId)) {
      error = "member \"" + member.key() + "\" is not a decimal game id";
      return false;
    }
    const std::string document =
        member.value().is_string() ? Utf8ToCp936(member.value().get<std::string>()) : Utf8ToCp936(member.value().dump());
    const bool compress = document.size() > FOptions.compressAbove;
    const std::string payload = compress ? DeflateDirectoryPayload(document) : document;
    if (payload.size() > MaxDirectoryPayload) {
      error = Format("the document of game %d is too large for one frame (%d bytes)", gameId,
                     static_cast<int>(payload.size()));
      return false;
    }
    replies[static_cast<uint32_t>(gameId)] = SplitIntoDatagrams(
        BuildDirectoryFrame(ServerListReply, compress ? 1 : 0, payload), MaxDirectoryDatagram);
  }
  FReplies.swap(replies);
  return true;
}

bool TDirectoryService::LoadFile(const std::string& path, std::string& error) {
  std::string text;
  if (!ReadFileText(path, text, error)) return false;
  FLoadedText = text;
  FLoadedOnce = true;
  return LoadText(text, error);
}

bool TDirectoryService::ReloadIfChanged(const std::string& path, std::string& error, bool& reloaded) {
  reloaded = false;
  std::string text;
  if (!ReadFileText(path, text, error)) return false;
  if (FLoadedOnce && text == FLoadedText) return true;
  // A file that does not load is not tried again until it changes.
  FLoadedText = text;
  FLoadedOnce = true;
  reloaded = LoadText(text, error);
  return reloaded;
}

const TDatagrams* TDirectoryService::ReplyOf(uint32_t gameId) const {
  const auto found = FReplies.find(gameId);
  return found == FReplies.end() ? nullptr : &found->second;
}

bool TDirectoryService::Admit(uint32_t sourceAddress, uint32_t nowMs) {
  if (FOptions.ratePerSecond == 0) return true;
  if (FBuckets.size() >= FOptions.maxSources && FBuckets.find(sourceAddress) == FBuckets.end()) {
    // Forget the sources that have been quiet long enough to be full again.
    for (auto it = FBuckets.begin(); it != FBuckets.end();)
      it = nowMs - it->second.lastMs > 1000u * FOptions.burst / FOptions.ratePerSecond + 1000u ? FBuckets.erase(it)
                                                                                                : std::next(it);
    if (FBuckets.size() >= FOptions.maxSources) FBuckets.clear();
  }
  auto [it, fresh] = FBuckets.try_emplace(sourceAddress);
  TBucket& bucket = it->second;
  if (fresh) {
    bucket.tokens = FOptions.burst;
  } else {
    bucket.tokens += static_cast<double>(nowMs - bucket.lastMs) * FOptions.ratePerSecond / 1000.0;
    if (bucket.tokens > FOptions.burst) bucket.tokens = FOptions.burst;
  }
  bucket.lastMs = nowMs;
  if (bucket.tokens < 1.0) return false;
  bucket.tokens -= 1.0;
  return true;
}

TReplyDatagrams TDirectoryService::Answer(const uint8_t* data, size_t length, uint32_t sourceAddress, uint32_t nowMs) {
  ++FCounters.datagrams;
  TReplyDatagrams out;
  size_t requests = 0;
  ScanDirectoryFrames(data, length, [&](const TDirectoryFrame& frame) {
    uint32_t gameId = 0;
    if (frame.messageId != GetServerList || !ReadRequestGameId(frame, gameId)) return;
    if (++requests > FOptions.maxRequestsPerDatagram) return;
    const TDatagrams* reply = ReplyOf(gameId);
    if (reply == nullptr) {
      ++FCounters.unknownGame;
      return;
    }
    if (!Admit(sourceAddress, nowMs)) {
      ++FCounters.limited;
      return;
    }
    ++FCounters.answered;
    for (const auto& datagram : *reply) out.push_back(&datagram);
  });
  if (requests == 0) ++FCounters.notARequest;
  return out;
}

// The update run's chunked path: a file that must be replaced, that the
// manifest gives a chunk index for and that has an older copy on disk is
// rebuilt from that copy and the changed chunks (update/chunks/ChunkedUpdate.h).
#include <optional>

#include "common/Format.h"
#include "common/Md5.h"
#include "common/Md5Behind.h"
#include "common/PathUtils.h"
#include "platform/File.h"
#include "signing/Crypto.h"
#include "update/chunks/ChunkAssembly.h"
#include "update/chunks/ChunkedUpdate.h"
#include "update/manifest/Manifest.h"
#include "update/run/UpdateTexts.h"
#include "update/run/UpdateThread.h"

namespace {

}  // namespace

const TChunkIndexRef* TUpdateThread::ChunkRef(const std::string& file) {
  if (!FChunkRefs) {
    FChunkRefs.emplace();
    try {
      TFileStream manifest(FEnvironment.LauncherFolder + "data\\" + FManifestName, TFileMode::ReadShared);
      ReadChunkIndexRefs([&manifest](char* buffer, size_t capacity) { return manifest.Read(buffer, capacity); },
                         *FChunkRefs);
    } catch (const EFileError&) {
      FChunkRefs->clear();
    }
  }
  const auto found = FChunkRefs->find(file);
  return found == FChunkRefs->end() ? nullptr : &found->second;
}

bool TUpdateThread::ChunkedDownload(const TDownloadItem& item, const std::string& url, const std::string& localPath,
                                    bool& copyWasRight) {
  copyWasRight = false;
  if (item.IsZip || item.isLauncher != 0 || item.Size <= 0) return false;
  const TChunkIndexRef* found = ChunkRef(item.File);
  if (!found) return false;
  const TChunkIndexRef& ref = *found;
  const std::string name = item.File;
  const auto fallBack = [&](const std::string& why) {
    Log(Format("%s: chunked update not used (%s); the whole file follows", name.c_str(), why.c_str()));
    return false;
  };
  const int64_t localSize = GetFileSize(localPath);
  if (localSize <= 0) return fallBack("no local copy");

  // A copy the compare left undigested may be right: it is digested while
  // it is cut into chunks, both in one read. A copy of another size is not.
  TChunkedJob job;
  if (item.CheckFirst && localSize == item.Size) {
    TMd5Behind md5;
    if (!ScanChunks(localPath, DefaultChunkParams(), [this] { return Cancelled(); }, job.Scanned, &md5)) {
      if (Cancelled()) return false;
      return fallBack("the local copy cannot be read");
    }
    if (SameDigestIgnoringCase(md5.FinalHex(), item.Hash)) {
      Log(name + ": the local copy is right");
      copyWasRight = true;
      return true;
    }
    job.HaveScanned = true;
  }
  if (ref.Size > (64 << 20)) return fallBack("the chunk index is larger than 64 MiB");
  if (SignedRun() && !IsSha256Text(ref.Sha256)) return fallBack("the signed manifest gives no ChunkIndexSha256");
  // A copy not digested here is cut into chunks while the index travels.
  std::optional<TScanAhead> scan;
  if (!job.HaveScanned) scan.emplace(localPath, [this] { return Cancelled(); });

  // The index, bounded by the size the manifest gives and checked by its
  // digests, from the first mirror that serves it right.
  TMirrorDocument document;
  document.Name = ref.Name;
  document.Suffix = "/" + ref.Name;
  document.Address = FServerAddress;
  document.Lead = UpdateText::DownloadLog;
  document.SlashPath = true;
  document.Options = FEnvironment.Document;
  document.Options.Limits.MaxBodySize = static_cast<uint64_t>(ref.Size);
  document.Options.Limits.MaxInflatedSize = static_cast<uint64_t>(ref.Size);
  document.Check = [&](const std::string& body) {
    if (static_cast<int64_t>(body.size()) != ref.Size || MD5OfMemory(body) != ref.Md5)
      return std::string("does not match its size and digest in the manifest");
    if (SignedRun() && Sha256Hex(body) != ref.Sha256) return std::string("does not match its SHA-256 in the manifest");
    return std::string();
  };
  if (!FetchFromMirrors(document)) {
    if (Cancelled()) return false;
    return fallBack("the chunk index " + document.Why);
  }

  if (scan) {
    if (!scan->Take(job.Scanned)) {
      if (Cancelled()) return false;
      return fallBack("the local copy cannot be read");
    }
    job.HaveScanned = true;
  }

  job.FileUrl = UrlSlashes(url);
  job.Address = FServerAddress;
  job.FileSize = item.Size;
  job.FileMd5 = item.Hash;
  if (SignedRun()) job.FileSha256 = item.Sha256;
  job.IndexBytes = document.Body;
  job.IndexMd5 = ref.Md5;
  job.TargetPath = localPath;
  job.Fetch.Worker = FEnvironment.Download.Worker;
  job.Fetch.SilenceMs = FEnvironment.Download.WatchdogMs;
  job.Fetch.NoProgressMs = FEnvironment.Download.NoProgressMs;
  job.Fetch.UsefulBytes = FEnvironment.Download.UsefulAnswerBytes;
  job.PollMs = FEnvironment.PollMs;
  const int64_t done = FFiles.BytesDone(), total = FFiles.BytesTotal();
  TChunkedHooks hooks;
  hooks.IsCancelled = [this] { return Cancelled(); };
  hooks.OnFileProgress = [this, done, total](int64_t fileDone, int64_t fileTotal) {
    PostProgress(UM_CURRENT_PROGRESS, fileDone, fileTotal);
    PostTotalBytes(done + fileDone, total);
  };
  hooks.OnNetwork = [this](int64_t received, uint32_t elapsedMs) { PostSpeed(received, elapsedMs); };
  PostTotalBytes(done, total);
  PostSpeed(0, 0);
  Log(UpdateText::DownloadLog + job.FileUrl);
  TChunkedFigures figures;
  std::string reason;
  const TChunkedOutcome outcome = RunChunkedUpdate(job, hooks, figures, reason);
  if (outcome == TChunkedOutcome::Cancelled) return false;
  if (outcome == TChunkedOutcome::Fallback) return fallBack(reason);
  Log(Format("%s: %lld bytes reused, %lld fetched in %d requests (%d ranges, %d sent ahead of an answer), chunk "
             "index %lld bytes",
             name.c_str(), static_cast<long long>(figures.Reused), static_cast<long long>(figures.Fetched),
             figures.Requests, static_cast<int>(figures.Ranges), figures.SentAhead, static_cast<long long>(ref.Size)));
  return true;
}

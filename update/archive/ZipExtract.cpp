#include "update/archive/ZipExtract.h"

#include <zlib.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

#include "common/Log.h"
#include "common/Md5.h"
#include "common/PathUtils.h"
#include "http/cHashClass.h"
#include "platform/File.h"
#include "platform/FileTime.h"
#include "signing/Crypto.h"
#include "update/manifest/Manifest.h"
#include "update/archive/ZipDirectory.h"
#include "update/archive/ZipFormat.h"

using namespace zipformat;

namespace {

constexpr size_t InputChunk = 1 << 20;
constexpr size_t OutputChunk = 2 << 20;

struct TJob {
  const TZipEntry* entry = nullptr;
  std::string target;
};

// What one thread needs to write entries: its own handle on the archive, an
// inflate stream and buffers, all reused from entry to entry.
class TEntryWriter {
public:
  TEntryWriter(const std::string& archive, const TZipDirectory& directory, std::atomic<uint64_t>& bytesDone)
      : FSource(archive), FDirectory(directory), FBytesDone(bytesDone), FIn(InputChunk), FOut(OutputChunk) {
    FStream.zalloc = Z_NULL;
    FStream.zfree = Z_NULL;
    FStream.opaque = Z_NULL;
    if (inflateInit2(&FStream, -MAX_WBITS) != Z_OK) throw std::bad_alloc();
  }
  ~TEntryWriter() { inflateEnd(&FStream); }
  TEntryWriter(const TEntryWriter&) = delete;
  TEntryWriter& operator=(const TEntryWriter&) = delete;

  // Writes one entry to its target; false with an error text. With
  // `accept`, the entry is digested as it is written and replaces its
  // target only when `accept` takes it.
  bool Write(const TJob& job, const std::function<void(int)>& percent, std::string& error,
             const TZipExtractHooks* accept = nullptr, bool sha256 = false) {
    const TZipEntry& entry = *job.entry;
    int64_t dataOffset = 0;
    if (!Check(entry, dataOffset, error)) return false;
    const std::string temporary = job.target + ".unz~";
    bool written = false;
    TMd5 md5;
    TSha256Stream sha;
    FMd5 = accept ? &md5 : nullptr;
    FSha = accept && sha256 ? &sha : nullptr;
    try {
      TFileStream file(temporary, TFileMode::CreateTruncate);
      written = Produce(entry, dataOffset, &file, percent, error);
    } catch (const EFileError& failure) {
      error = failure.what();
      FWriteFailed = true;
    }
    FMd5 = nullptr;
    FSha = nullptr;
    if (written && accept) {
      TZipEntryDigests digests;
      digests.Size = FWritten;
      digests.Md5 = FWritten == 0 ? std::string(ZeroDigest) : md5.FinalHex();
      if (sha256) digests.Sha256 = sha.FinalHex();
      written = accept->AcceptEntry(digests, error);
    }
    if (written) {
      SetFileDosDateTime(temporary, entry.DosDateTime);
      if (RenameFileAt(temporary, job.target)) return true;
      error = "cannot replace the file. " + LastFileErrorText();
    }
    DeleteFileAt(temporary);
    if (FFirstError.empty()) FFirstError = ExtractFileName(job.target) + ": " + error;
    return false;
  }

  bool WriteFailed() const { return FWriteFailed; }
  const std::string& FirstError() const { return FFirstError; }

  // Reads one entry through, checking its size and CRC, writing nothing.
  bool Test(const TZipEntry& entry, std::string& error) {
    int64_t dataOffset = 0;
    return Check(entry, dataOffset, error) && Produce(entry, dataOffset, nullptr, nullptr, error);
  }

private:
  bool Check(const TZipEntry& entry, int64_t& dataOffset, std::string& error) {
    if (entry.Flags & FlagEncrypted) return Fail(error, "encrypted entries are not supported");
    if (entry.Method != MethodStored && entry.Method != MethodDeflated)
      return Fail(error, "compression method " + std::to_string(entry.Method) + " is not supported");
    if (entry.Method == MethodStored && entry.CompressedSize != entry.UncompressedSize)
      return Fail(error, "stored entry with two different sizes");
    return LocateEntryData(FSource, FDirectory, entry, dataOffset, error);
  }

  bool Produce(const TZipEntry& entry, int64_t dataOffset, TFileStream* file, const std::function<void(int)>& percent,
               std::string& error) {
    return entry.Method == MethodStored ? Copy(entry, dataOffset, file, percent, error)
                                        : Inflate(entry, dataOffset, file, percent, error);
  }

  static bool Fail(std::string& error, const std::string& text) {
    error = text;
    return false;
  }

  // Takes one produced block: bounded by the declared size, checksummed, written.
  bool Emit(const TZipEntry& entry, const uint8_t* data, size_t length, TFileStream* file,
            const std::function<void(int)>& percent, std::string& error) {
    if (length > entry.UncompressedSize - FWritten) return Fail(error, "data beyond the entry's declared size");
    FCrc = crc32(FCrc, data, static_cast<uInt>(length));
    if (file) file->WriteBuffer(data, length);
    if (FMd5) FMd5->Update(data, length);
    if (FSha) FSha->Update(data, length);
    FWritten += length;
    FBytesDone += length;
    if (percent) {
      const int now = static_cast<int>(FWritten * 100 / std::max<uint64_t>(entry.UncompressedSize, 1));
      if (now != FPercent) percent(FPercent = now);
    }
    return true;
  }

  void Begin() {
    FWritten = 0;
    FCrc = crc32(0, Z_NULL, 0);
    FPercent = -1;
  }

  bool Finish(const TZipEntry& entry, const std::function<void(int)>& percent, std::string& error) {
    if (FWritten != entry.UncompressedSize) return Fail(error, "data shorter than the entry's declared size");
    if (FCrc != entry.Crc32) return Fail(error, "CRC-32 mismatch");
    if (percent && FPercent != 100) percent(100);
    return true;
  }

  bool Copy(const TZipEntry& entry, int64_t at, TFileStream* file, const std::function<void(int)>& percent,
            std::string& error) {
    Begin();
    for (uint64_t left = entry.CompressedSize; left > 0;) {
      const size_t n = static_cast<size_t>(std::min<uint64_t>(left, OutputChunk));
      if (!FSource.ReadAt(at, FOut.data(), n)) return Fail(error, "cannot read the archive");
      if (!Emit(entry, FOut.data(), n, file, percent, error)) return false;
      at += static_cast<int64_t>(n);
      left -= n;
    }
    return Finish(entry, percent, error);
  }

  bool Inflate(const TZipEntry& entry, int64_t at, TFileStream* file, const std::function<void(int)>& percent,
               std::string& error) {
    Begin();
    inflateReset(&FStream);
    FStream.avail_in = 0;
    uint64_t left = entry.CompressedSize;
    for (int result = Z_OK; result != Z_STREAM_END;) {
      if (FStream.avail_in == 0 && left > 0) {
        const size_t n = static_cast<size_t>(std::min<uint64_t>(left, InputChunk));
        if (!FSource.ReadAt(at, FIn.data(), n)) return Fail(error, "cannot read the archive");
        at += static_cast<int64_t>(n);
        left -= n;
        FStream.next_in = FIn.data();
        FStream.avail_in = static_cast<uInt>(n);
      }
      FStream.next_out = FOut.data();
      FStream.avail_out = static_cast<uInt>(OutputChunk);
      result = inflate(&FStream, Z_NO_FLUSH);
      if (result != Z_OK && result != Z_STREAM_END && result != Z_BUF_ERROR)
        return Fail(error, "damaged deflate data");
      const size_t produced = OutputChunk - FStream.avail_out;
      if (produced == 0 && result != Z_STREAM_END && FStream.avail_in == 0 && left == 0)
        return Fail(error, "deflate data ends early");
      if (produced && !Emit(entry, FOut.data(), produced, file, percent, error)) return false;
    }
    return Finish(entry, percent, error);
  }

  TZipFileSource FSource;
  const TZipDirectory& FDirectory;
  std::atomic<uint64_t>& FBytesDone;
  std::vector<uint8_t> FIn;
  std::vector<uint8_t> FOut;
  z_stream FStream{};
  uint64_t FWritten = 0;
  uLong FCrc = 0;
  int FPercent = -1;
  TMd5* FMd5 = nullptr;           // digests of the entry being written, when asked for
  TSha256Stream* FSha = nullptr;
  bool FWriteFailed = false;  // a target could not be created or written
  std::string FFirstError;    // the first entry that failed, and why
};

// A second thread that writes one entry at a time while the calling thread
// writes the next. It never calls a hook itself (the hooks belong to the
// calling thread): it keeps its latest percent and a count of the entries it
// finished, which the calling thread reports.
class THelper {
public:
  THelper(const std::string& archive, const TZipDirectory& directory, std::atomic<uint64_t>& bytesDone)
      : FWriter(archive, directory, bytesDone), FThread([this] { Run(); }) {}
  ~THelper() {
    {
      std::lock_guard<std::mutex> guard(FLock);
      FQuit = true;
    }
    FWake.notify_all();
    FThread.join();
  }
  bool Idle() {
    std::lock_guard<std::mutex> guard(FLock);
    return !FBusy;
  }
  // The target being written, or "" when idle.
  std::string Target() {
    std::lock_guard<std::mutex> guard(FLock);
    return FBusy ? FJob.target : std::string();
  }
  void Give(const TJob& job) {
    {
      std::lock_guard<std::mutex> guard(FLock);
      FJob = job;
      FBusy = true;
    }
    FWake.notify_all();
  }
  // True when idle within `ms`.
  bool WaitIdleFor(uint32_t ms) {
    std::unique_lock<std::mutex> guard(FLock);
    return FWake.wait_for(guard, std::chrono::milliseconds(ms), [this] { return !FBusy; });
  }
  int Written() const { return FWritten.load(); }
  // Read only while the helper is idle.
  bool WriteFailed() const { return FWriter.WriteFailed(); }
  const std::string& FirstError() const { return FWriter.FirstError(); }
  // The percent of the entry being written since the last call, or -1.
  int TakePercent() { return FPercent.exchange(-1); }

private:
  void Run() {
    std::unique_lock<std::mutex> guard(FLock);
    for (;;) {
      FWake.wait(guard, [this] { return FQuit || FBusy; });
      if (FBusy) {
        const TJob job = FJob;
        guard.unlock();
        std::string error;
        bool ok = false;
        try {
          ok = FWriter.Write(job, [this](int percent) { FPercent = percent; }, error);
        } catch (const std::exception& failure) {
          error = failure.what();
        }
        if (ok) ++FWritten;
        else LogError("extract " + job.entry->Name + " failed: " + error);
        guard.lock();
        FBusy = false;
        FWake.notify_all();
      } else if (FQuit) {
        return;
      }
    }
  }

  TEntryWriter FWriter;
  std::mutex FLock;
  std::condition_variable FWake;
  TJob FJob;
  bool FBusy = false;
  bool FQuit = false;
  std::atomic<int> FWritten{0};
  std::atomic<int> FPercent{-1};
  std::thread FThread;
};

// Stored names use "/"; the launcher's paths use "\". "/" is never the
// second byte of a double-byte character.
std::string LocalSeparators(std::string name) {
  std::replace(name.begin(), name.end(), '/', '\\');
  return name;
}

}  // namespace

int TZipExtractor::Extract(const std::string& archive) {
  const bool single = !Options.DoAll;
  if (single && (Options.OnlyFile.empty() || !Hooks.AcceptEntry)) return 0;
  const std::string wanted = single ? WindowsPathKey(ExtractFileName(LocalSeparators(Options.OnlyFile))) : "";
  bool found = false;
  TZipDirectory directory;
  std::string error;
  std::atomic<uint64_t> bytesDone{0};
  std::unique_ptr<TEntryWriter> writer;
  try {
    TZipFileSource source(archive);
    if (!ReadZipDirectory(source, directory, error)) {
      FirstError = "cannot read the archive: " + error;
      LogError("cannot read archive " + archive + ": " + error);
      return 0;
    }
    writer = std::make_unique<TEntryWriter>(archive, directory, bytesDone);
  } catch (const EFileError& failure) {
    FirstError = std::string("cannot read the archive: ") + failure.what();
    LogError("cannot read archive " + archive + ": " + failure.what());
    return 0;
  }
  const std::string dest = WithSeparator(Options.DestDir);
  uint64_t totalBytes = 0;
  size_t files = 0;
  for (const TZipEntry& entry : directory.Entries)
    if (!entry.IsDirectory()) {
      totalBytes += entry.UncompressedSize;
      ++files;
    }
  UnpackedBytes = totalBytes;
  std::unique_ptr<THelper> helper;
  if (!single && Threads > 1 && files > 1) {
    try {
      helper = std::make_unique<THelper>(archive, directory, bytesDone);
    } catch (const std::exception&) {
      // The calling thread writes every entry.
    }
  }
  std::set<std::string> madeFolders;
  auto makeFolder = [&](const std::string& folder) {
    if (folder.empty() || !madeFolders.insert(folder).second) return;
    ForceDirectories(folder);
  };
  int lastTotal = -1;
  auto reportTotal = [&] {
    if (!Hooks.OnTotalPercent) return;
    const int now = static_cast<int>(bytesDone.load() * 100 / std::max<uint64_t>(totalBytes, 1));
    if (now != lastTotal) Hooks.OnTotalPercent(lastTotal = now);
  };
  // The helper's progress, reported on this thread: 100 once for every entry
  // it wrote, its current percent while this thread waits for it.
  int helperReported = 0;
  auto reportHelper = [&](bool current) {
    if (!helper) return;
    for (const int done = helper->Written(); helperReported < done; ++helperReported)
      if (Hooks.OnFilePercent) Hooks.OnFilePercent(100);
    const int percent = helper->TakePercent();
    if (current && percent >= 0 && percent < 100 && Hooks.OnFilePercent) Hooks.OnFilePercent(percent);
    reportTotal();
  };
  auto waitForHelper = [&] {
    while (!helper->WaitIdleFor(50)) reportHelper(true);
    reportHelper(false);
  };
  int written = 0;
  const int entryCount = static_cast<int>(directory.Entries.size());
  for (int i = 0; i < entryCount; ++i) {
    const TZipEntry& entry = directory.Entries[static_cast<size_t>(i)];
    std::string name = LocalSeparators(entry.Name);
    if (entry.IsDirectory()) name.pop_back();
    if (!IsSafeRelativePath(name)) {
      LogError("archive entry rejected: \"" + entry.Name + "\" would leave " + dest);
      if (FirstError.empty()) FirstError = "entry \"" + entry.Name + "\" refused: its name is not safe";
      continue;
    }
    if (entry.IsDirectory()) {
      if (Options.RecreateDirs) makeFolder(dest + name);
      continue;
    }
    if (single) {
      // Only the file the caller names; whatever else the archive holds is
      // not ours to write.
      if (found || WindowsPathKey(ExtractFileName(name)) != wanted) {
        LogError("archive entry ignored: \"" + entry.Name + "\" in " + archive);
        continue;
      }
      found = true;
    }
    const TJob job{&entry, dest + (Options.RecreateDirs ? name : ExtractFileName(name))};
    reportHelper(false);
    bool skip = false;
    if (Hooks.OnStartEntry) Hooks.OnStartEntry(i, job.target, entryCount, skip);
    if (skip || (Options.OverwriteMode == "Never" && FileExists(job.target))) continue;
    makeFolder(ExtractFilePath(job.target));
    if (helper && helper->Idle()) {
      helper->Give(job);
      continue;
    }
    if (helper && SameName(helper->Target(), job.target)) waitForHelper();
    std::function<void(int)> percent = Hooks.OnFilePercent;
    if (Hooks.OnTotalPercent)
      percent = [&](int value) {
        if (Hooks.OnFilePercent) Hooks.OnFilePercent(value);
        reportTotal();
      };
    if (writer->Write(job, percent, error, single ? &Hooks : nullptr, Options.Sha256)) {
      ++written;
    } else {
      LogError("extract " + entry.Name + " failed: " + error);
    }
  }
  if (single && !found && FirstError.empty()) FirstError = "the archive holds no entry " + Options.OnlyFile;
  if (helper) {
    waitForHelper();
    written += helper->Written();
  }
  WriteFailed = writer->WriteFailed() || (helper && helper->WriteFailed());
  if (FirstError.empty()) FirstError = writer->FirstError();
  if (FirstError.empty() && helper) FirstError = helper->FirstError();
  reportTotal();
  return written;
}

bool TestZipArchive(const std::string& archive, std::string& error) {
  try {
    TZipDirectory directory;
    {
      TZipFileSource source(archive);
      if (!ReadZipDirectory(source, directory, error)) return false;
    }
    std::atomic<uint64_t> bytesDone{0};
    TEntryWriter reader(archive, directory, bytesDone);
    for (const TZipEntry& entry : directory.Entries) {
      if (entry.IsDirectory()) continue;
      if (!reader.Test(entry, error)) {
        error = entry.Name + ": " + error;
        return false;
      }
    }
    return true;
  } catch (const EFileError& failure) {
    error = failure.what();
    return false;
  }
}

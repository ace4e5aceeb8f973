// The local scan of a chunked update: cuts a file into chunks as the update
// does (one sequential read, chunker and chunk hashes) and prints MB/s of
// the whole scan and of the chunker alone on the data held in memory. Given
// the new file too, it also times the assembly of the new file from the old
// one (the changed ranges are landed from NEW first, untimed) against a
// plain copy of the file and against a copy followed by its MD5, which is
// what a whole download's verify reads. The assembly makes its file durable
// before it may replace the old one, so the copy is flushed too; the peak
// memory is taken after the assembly, before the chunker's own timing
// loads 256 MiB.
//   chunkscan OLD [NEW]
#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "common/Md5.h"
#include "platform/File.h"
#include "update/chunks/ChunkAssembly.h"

namespace {

using Clock = std::chrono::steady_clock;
double Since(Clock::time_point from) { return std::chrono::duration<double>(Clock::now() - from).count(); }

// Copies `from` to `to` in blocks of the assembly's size.
void PlainCopy(const std::string& from, const std::string& to) {
  TFileStream in(from, TFileMode::ReadShared), out(to, TFileMode::CreateTruncate);
  std::vector<char> block(1 << 20);
  for (size_t count; (count = in.Read(block.data(), block.size())) > 0;) out.WriteBuffer(block.data(), count);
  out.Flush();
}

long PeakMemoryKiB() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss;
}

int TimeAssembly(const std::string& oldPath, const std::string& newPath, const std::vector<TOldChunk>& old) {
  TChunkIndex index;
  if (!BuildChunkIndex(newPath, index)) return 1;
  TPlanOptions options;
  options.MaxFetchShare = 1.0;
  const TChunkPlan plan = PlanChunkedUpdate(old, index, options);
  const std::string output = newPath + ".assembled", record = newPath + ".record", copy = newPath + ".copy";
  TChunkAssembly assembly(index, plan, output, record, "bench");
  if (!assembly.Open()) return 1;
  TFileStream source(newPath, TFileMode::ReadShared);
  std::vector<char> data;
  for (size_t r = 0; r < plan.Ranges.size(); ++r) {
    data.resize(static_cast<size_t>(plan.Ranges[r].Length));
    source.Seek(plan.Ranges[r].Offset);
    source.ReadBuffer(data.data(), data.size());
    assembly.Begin(r);
    if (!assembly.Land(r, plan.Ranges[r].Offset, data.data(), data.size()) || !assembly.End(r)) return 1;
  }
  std::string error;
  const auto assemblyStart = Clock::now();
  if (!assembly.Finish(oldPath, nullptr, nullptr, error)) {
    std::fprintf(stderr, "chunkscan: assembly failed: %s\n", error.c_str());
    return 1;
  }
  const double assembled = Since(assemblyStart);
  assembly.Discard();
  const auto copyStart = Clock::now();
  PlainCopy(oldPath, copy);
  const double copied = Since(copyStart);
  const auto hashStart = Clock::now();
  MD5OfFile(copy);
  const double hashed = Since(hashStart);
  std::printf("assembly %.2f s (%lld bytes reused); plain copy %.2f s (x%.2f), copy and its MD5 %.2f s (x%.2f); "
              "peak memory of scan, plan and assembly %.1f MiB\n",
              assembled, static_cast<long long>(plan.ReusedBytes), copied, assembled / copied, copied + hashed,
              assembled / (copied + hashed), static_cast<double>(PeakMemoryKiB()) / 1024);
  DeleteFileAt(output);
  DeleteFileAt(copy);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2 && argc != 3) {
    std::fprintf(stderr, "usage: chunkscan OLD [NEW]\n");
    return 2;
  }
  std::vector<TOldChunk> chunks;
  const auto scanStart = Clock::now();
  if (!ScanChunks(argv[1], DefaultChunkParams(), nullptr, chunks)) {
    std::fprintf(stderr, "chunkscan: cannot read %s\n", argv[1]);
    return 1;
  }
  const double scan = Since(scanStart);
  const int64_t size = GetFileSize(argv[1]);
  std::printf("scan %.0f MB/s (%zu chunks, average %.0f bytes)\n", static_cast<double>(size) / scan / 1e6,
              chunks.size(), static_cast<double>(size) / static_cast<double>(chunks.size() ? chunks.size() : 1));
  if (argc == 3 && TimeAssembly(argv[1], argv[2], chunks) != 0) return 1;
  std::vector<uint8_t> data(static_cast<size_t>(std::min<int64_t>(size, 256 << 20)));
  TFileStream(argv[1], TFileMode::ReadShared).ReadBuffer(data.data(), data.size());
  TChunker chunker(DefaultChunkParams());
  size_t cuts = 0, at = 0;
  const auto cutStart = Clock::now();
  while (at < data.size()) {
    bool ended = false;
    at += chunker.Feed(data.data() + at, data.size() - at, ended);
    cuts += ended;
  }
  std::printf("chunker alone %.0f MB/s (%zu cuts)\n", static_cast<double>(data.size()) / Since(cutStart) / 1e6, cuts);
  return 0;
}

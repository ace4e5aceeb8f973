// The base addresses one run fetches its release from, in the operator's
// order of preference, and what each did this run: bytes and files it
// delivered, how fast it delivered them, and why it was set aside if it
// was. One set per run, shared by its documents, its downloads and its
// batch; any thread. The run names every file below the first base; the
// engine maps such a URL to the same path below the mirror it picks.
#pragma once
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

struct TMirrorReport {
  std::string Base;
  int64_t Bytes = 0;
  int Files = 0;
  std::string SetAside;  // empty while the mirror is in use
};

// No mirror: a URL below none of the bases (a redirect target, another host).
constexpr size_t NoMirror = static_cast<size_t>(-1);

// While another mirror is in use, a mirror gets this long to accept a
// connection; the last one keeps the caller's own bound.
constexpr uint32_t MirrorConnectMs = 3000;

// A mirror this many times slower than the fastest one is set aside, once
// its requests have run this long together (over the files of the run).
constexpr double MirrorSlowFactor = 16.0;
constexpr uint64_t MirrorSlowLookMs = 2000;

class TMirrorSet {
public:
  // `joined` holds one base address or several joined by "|"; blanks around
  // each are dropped, and so are empty ones.
  explicit TMirrorSet(const std::string& joined);

  static std::vector<std::string> SplitBases(const std::string& joined);

  size_t Count() const { return FBases.size(); }
  const std::string& Base(size_t mirror) const { return FBases[mirror]; }
  // `path` (relative, "/" or "\" separated) below mirror's base.
  std::string Url(size_t mirror, const std::string& path) const;
  // Which base `url` lies below (NoMirror when none).
  size_t MirrorOf(const std::string& url) const;
  // `url` below one base moved to the same path below `mirror`'s; a URL
  // below none stays as it is.
  std::string MapUrl(size_t mirror, const std::string& url) const;
  // The path of `url` below its base (the URL itself when below none).
  std::string PathOf(const std::string& url) const;

  bool IsSetAside(size_t mirror) const;
  size_t InUse() const;
  // The first reason stays; the last mirror in use is never set aside, so a
  // run always has one to go on with. Logs the mirror and the reason.
  bool SetAside(size_t mirror, const std::string& why);
  void AddBytes(size_t mirror, int64_t bytes);
  void AddFile(size_t mirror);
  std::vector<TMirrorReport> Reports() const;

  // One connection's measured throughput (bytes per second) on a mirror.
  void NoteRate(size_t mirror, double bytesPerSecond);
  double Rate(size_t mirror) const;
  // The mirror for a new connection or a new piece of work: a mirror in use
  // without any connection first (in order), then the one with the best
  // measured rate per connection, fewer connections breaking near ties.
  // `connections` holds the open connections per mirror; a mirror with
  // `most` of them (when not 0) is left out, and NoMirror comes back when
  // every mirror in use has as many.
  size_t Pick(const std::vector<int>& connections, int most = 0) const;
  // An answer's body bytes from a mirror and how long its request took;
  // Answered() gives the totals (bytes, milliseconds).
  void AddAnswer(size_t mirror, int64_t bytes, uint32_t ms);
  std::pair<int64_t, uint64_t> Answered(size_t mirror) const;
  // Sets `mirror` aside when, measured as (rate, ms), it is far slower than
  // `fast` at `fastRate` (see MirrorSlowFactor); true when it did.
  bool SetAsideIfSlow(size_t mirror, double rate, uint64_t ms, size_t fast, double fastRate);
  // The same, measured by the answers so far (AddAnswer) against the
  // fastest other mirror in use.
  bool SetAsideIfSlowest(size_t mirror);
  // The fastest mirror in use among `among` (all when empty).
  size_t Fastest(const std::vector<size_t>& among = {}) const;
  // The connect bound for a mirror: MirrorConnectMs while another is in use.
  uint32_t ConnectBound(uint32_t ownMs) const;

  // The run's log; called with one line (a file and the mirrors that
  // delivered it, a mirror set aside).
  void SetLog(std::function<void(const std::string&)> log);
  void Log(const std::string& line) const;
  // "NAME: B1 bytes from URL1, B2 from URL2" for a file the mirrors
  // delivered, counted as one file for each of them, and logged.
  void FileDone(const std::string& name, const std::vector<std::pair<size_t, int64_t>>& delivered);

private:
  size_t InUseLocked() const;  // under FLock
  double AnsweredRateLocked(size_t mirror) const;  // under FLock: bytes per second of its answers

  std::vector<std::string> FBases;
  mutable std::mutex FLock;
  std::vector<TMirrorReport> FReports;
  std::vector<double> FRates;
  std::vector<std::pair<int64_t, uint64_t>> FAnswered;
  std::function<void(const std::string&)> FLog;
};

#include "http/MirrorSet.h"

#include <algorithm>

#include "common/DelimitedText.h"
#include "common/Format.h"
#include "common/PathUtils.h"

namespace {

// Rates within this factor of each other count as the same speed.
constexpr double NearTie = 1.25;

// A text without "|" is the one base as it is, even empty (its requests
// then fail as they always did); a list of nothing but bars is one empty base.
std::vector<std::string> BasesOf(const std::string& joined) {
  if (joined.find('|') == std::string::npos) return {joined};
  std::vector<std::string> bases = TMirrorSet::SplitBases(joined);
  if (bases.empty()) bases.emplace_back();
  return bases;
}

}  // namespace

TMirrorSet::TMirrorSet(const std::string& joined)
    : FBases(BasesOf(joined)), FRates(FBases.size(), 0.0), FAnswered(FBases.size(), {0, 0}) {
  for (const std::string& base : FBases) {
    TMirrorReport report;
    report.Base = base;
    FReports.push_back(report);
  }
}

std::vector<std::string> TMirrorSet::SplitBases(const std::string& joined) {
  std::vector<std::string> bases;
  for (std::string& base : SplitDelimited(joined, '|'))
    if (!base.empty()) bases.push_back(std::move(base));
  return bases;
}

std::string TMirrorSet::Url(size_t mirror, const std::string& path) const {
  return UrlSlashes(FBases[mirror] + "/" + path);
}

size_t TMirrorSet::MirrorOf(const std::string& url) const {
  // The longest base wins: one base may be a prefix of another's path.
  size_t found = NoMirror, length = 0;
  for (size_t m = 0; m < FBases.size(); ++m) {
    std::string base = FBases[m];
    if (!base.empty() && base.back() != '/') base += '/';
    if (base.size() > length && url.size() > base.size() && url.compare(0, base.size(), base) == 0) {
      found = m;
      length = base.size();
    }
  }
  return found;
}

std::string TMirrorSet::MapUrl(size_t mirror, const std::string& url) const {
  const size_t from = MirrorOf(url);
  if (from == NoMirror || from == mirror || mirror >= FBases.size()) return url;
  std::string rest = url.substr(FBases[from].size());
  if (rest.empty() || rest[0] != '/') rest = "/" + rest;
  std::string base = FBases[mirror];
  if (!base.empty() && base.back() == '/') base.pop_back();
  return base + rest;
}

std::string TMirrorSet::PathOf(const std::string& url) const {
  const size_t mirror = MirrorOf(url);
  if (mirror == NoMirror) return url;
  const size_t start = url.find_first_not_of('/', FBases[mirror].size());
  return start == std::string::npos ? url : url.substr(start);
}

bool TMirrorSet::IsSetAside(size_t mirror) const {
  std::lock_guard<std::mutex> guard(FLock);
  return mirror < FReports.size() && !FReports[mirror].SetAside.empty();
}

size_t TMirrorSet::InUseLocked() const {
  size_t inUse = 0;
  for (const TMirrorReport& report : FReports) inUse += report.SetAside.empty() ? 1 : 0;
  return inUse;
}

size_t TMirrorSet::InUse() const {
  std::lock_guard<std::mutex> guard(FLock);
  return InUseLocked();
}

bool TMirrorSet::SetAside(size_t mirror, const std::string& why) {
  std::string line;
  {
    std::lock_guard<std::mutex> guard(FLock);
    if (mirror >= FReports.size()) return false;
    if (!FReports[mirror].SetAside.empty()) return true;
    if (InUseLocked() <= 1) return false;
    FReports[mirror].SetAside = why.empty() ? "set aside" : why;
    line = "mirror " + FBases[mirror] + "/... set aside: " + FReports[mirror].SetAside;
  }
  Log(line);
  return true;
}

void TMirrorSet::AddBytes(size_t mirror, int64_t bytes) {
  std::lock_guard<std::mutex> guard(FLock);
  if (mirror < FReports.size()) FReports[mirror].Bytes += bytes;
}

void TMirrorSet::AddFile(size_t mirror) {
  std::lock_guard<std::mutex> guard(FLock);
  if (mirror < FReports.size()) ++FReports[mirror].Files;
}

std::vector<TMirrorReport> TMirrorSet::Reports() const {
  std::lock_guard<std::mutex> guard(FLock);
  return FReports;
}

void TMirrorSet::NoteRate(size_t mirror, double bytesPerSecond) {
  std::lock_guard<std::mutex> guard(FLock);
  if (mirror >= FRates.size() || bytesPerSecond <= 0) return;
  // A running mean that follows a mirror getting slower or faster within a
  // few answers.
  FRates[mirror] = FRates[mirror] <= 0 ? bytesPerSecond : 0.7 * FRates[mirror] + 0.3 * bytesPerSecond;
}

void TMirrorSet::AddAnswer(size_t mirror, int64_t bytes, uint32_t ms) {
  std::lock_guard<std::mutex> guard(FLock);
  if (mirror >= FAnswered.size()) return;
  FAnswered[mirror].first += bytes;
  FAnswered[mirror].second += ms;
}

std::pair<int64_t, uint64_t> TMirrorSet::Answered(size_t mirror) const {
  std::lock_guard<std::mutex> guard(FLock);
  return mirror < FAnswered.size() ? FAnswered[mirror] : std::pair<int64_t, uint64_t>(0, 0);
}

double TMirrorSet::Rate(size_t mirror) const {
  std::lock_guard<std::mutex> guard(FLock);
  return mirror < FRates.size() ? FRates[mirror] : 0.0;
}

bool TMirrorSet::SetAsideIfSlow(size_t mirror, double rate, uint64_t ms, size_t fast, double fastRate) {
  if (fast >= FBases.size() || fast == mirror || ms < MirrorSlowLookMs || rate * MirrorSlowFactor > fastRate)
    return false;
  return SetAside(mirror, Format("too slow: %lld KB/s where %s gives %lld KB/s", static_cast<long long>(rate / 1024),
                                 FBases[fast].c_str(), static_cast<long long>(fastRate / 1024)));
}

double TMirrorSet::AnsweredRateLocked(size_t mirror) const {
  const auto& [bytes, ms] = FAnswered[mirror];
  return ms == 0 ? 0.0 : static_cast<double>(bytes) * 1000.0 / static_cast<double>(ms);
}

bool TMirrorSet::SetAsideIfSlowest(size_t mirror) {
  size_t fastest = NoMirror;
  double fastRate = 0, rate = 0;
  uint64_t ms = 0;
  {
    std::lock_guard<std::mutex> guard(FLock);
    if (mirror >= FAnswered.size()) return false;
    for (size_t m = 0; m < FAnswered.size(); ++m) {
      const double other = AnsweredRateLocked(m);
      if (m != mirror && FReports[m].SetAside.empty() && other > fastRate) {
        fastest = m;
        fastRate = other;
      }
    }
    rate = AnsweredRateLocked(mirror);
    ms = FAnswered[mirror].second;
  }
  return SetAsideIfSlow(mirror, rate, ms, fastest, fastRate);
}

size_t TMirrorSet::Pick(const std::vector<int>& connections, int most) const {
  std::lock_guard<std::mutex> guard(FLock);
  const auto open = [&connections](size_t m) { return m < connections.size() ? connections[m] : 0; };
  size_t best = NoMirror;
  for (size_t m = 0; m < FReports.size(); ++m) {
    if (!FReports[m].SetAside.empty() || (most > 0 && open(m) >= most)) continue;
    if (open(m) == 0 && FRates[m] <= 0) return m;  // not tried yet
    if (best == NoMirror) {
      best = m;
      continue;
    }
    // A mirror not measured yet stands level with the best.
    const double rate = FRates[m] > 0 ? FRates[m] : FRates[best];
    const double bestRate = FRates[best] > 0 ? FRates[best] : rate;
    if (rate > bestRate * NearTie || (rate * NearTie >= bestRate && open(m) < open(best))) best = m;
  }
  return best;
}

size_t TMirrorSet::Fastest(const std::vector<size_t>& among) const {
  std::lock_guard<std::mutex> guard(FLock);
  size_t best = NoMirror;
  for (size_t m = 0; m < FReports.size(); ++m) {
    if (!FReports[m].SetAside.empty()) continue;
    if (!among.empty() && std::find(among.begin(), among.end(), m) == among.end()) continue;
    if (best == NoMirror || FRates[m] > FRates[best]) best = m;
  }
  return best;
}

uint32_t TMirrorSet::ConnectBound(uint32_t ownMs) const {
  return InUse() > 1 && ownMs > MirrorConnectMs ? MirrorConnectMs : ownMs;
}

void TMirrorSet::SetLog(std::function<void(const std::string&)> log) {
  std::lock_guard<std::mutex> guard(FLock);
  FLog = std::move(log);
}

void TMirrorSet::Log(const std::string& line) const {
  std::function<void(const std::string&)> log;
  {
    std::lock_guard<std::mutex> guard(FLock);
    log = FLog;
  }
  if (log) log(line);
}

void TMirrorSet::FileDone(const std::string& name, const std::vector<std::pair<size_t, int64_t>>& delivered) {
  std::string line = name + ":";
  bool first = true;
  for (const auto& [mirror, bytes] : delivered) {
    if (mirror >= FBases.size() || bytes <= 0) continue;
    AddFile(mirror);
    line += Format("%s %lld %s %s/...", first ? "" : ",", static_cast<long long>(bytes), first ? "bytes from" : "from",
                   FBases[mirror].c_str());
    first = false;
  }
  if (!first) Log(line);
}

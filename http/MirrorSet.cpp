#include "http/MirrorSet.h"

namespace {

std::string Trimmed(const std::string& text) {
  const size_t first = text.find_first_not_of(" \t");
  if (first == std::string::npos) return std::string();
  return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

}  // namespace

TMirrorSet::TMirrorSet(const std::string& joined) : FBases(SplitBases(joined)) {
  for (const std::string& base : FBases) {
    TMirrorReport report;
    report.Base = base;
    FReports.push_back(report);
  }
}

std::vector<std::string> TMirrorSet::SplitBases(const std::string& joined) {
  std::vector<std::string> bases;
  size_t start = 0;
  for (;;) {
    const size_t bar = joined.find('|', start);
    const std::string base = Trimmed(joined.substr(start, bar == std::string::npos ? std::string::npos : bar - start));
    if (!base.empty()) bases.push_back(base);
    if (bar == std::string::npos) return bases;
    start = bar + 1;
  }
}

std::string TMirrorSet::Url(size_t mirror, const std::string& path) const {
  std::string url = FBases[mirror] + "/" + path;
  for (char& c : url)
    if (c == '\\') c = '/';
  return url;
}

bool TMirrorSet::IsSetAside(size_t mirror) const {
  std::lock_guard<std::mutex> guard(FLock);
  return !FReports[mirror].SetAside.empty();
}

bool TMirrorSet::SetAside(size_t mirror, const std::string& why) {
  std::lock_guard<std::mutex> guard(FLock);
  if (!FReports[mirror].SetAside.empty()) return true;
  size_t inUse = 0;
  for (const TMirrorReport& report : FReports) inUse += report.SetAside.empty() ? 1 : 0;
  if (inUse <= 1) return false;
  FReports[mirror].SetAside = why.empty() ? "set aside" : why;
  return true;
}

void TMirrorSet::AddBytes(size_t mirror, int64_t bytes) {
  std::lock_guard<std::mutex> guard(FLock);
  FReports[mirror].Bytes += bytes;
}

void TMirrorSet::AddFile(size_t mirror) {
  std::lock_guard<std::mutex> guard(FLock);
  ++FReports[mirror].Files;
}

std::vector<TMirrorReport> TMirrorSet::Reports() const {
  std::lock_guard<std::mutex> guard(FLock);
  return FReports;
}

// The base addresses one run fetches its release from, in the operator's
// order of preference, and what each did this run: bytes and files it
// delivered, and why it was set aside if it was. One set per run, shared by
// its documents, its downloads and its batch; any thread.
#pragma once
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

struct TMirrorReport {
  std::string Base;
  int64_t Bytes = 0;
  int Files = 0;
  std::string SetAside;  // empty while the mirror is in use
};

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

  bool IsSetAside(size_t mirror) const;
  // The first reason stays; the last mirror in use is never set aside, so a
  // run always has one to go on with.
  bool SetAside(size_t mirror, const std::string& why);
  void AddBytes(size_t mirror, int64_t bytes);
  void AddFile(size_t mirror);
  std::vector<TMirrorReport> Reports() const;

private:
  std::vector<std::string> FBases;
  mutable std::mutex FLock;
  std::vector<TMirrorReport> FReports;
};

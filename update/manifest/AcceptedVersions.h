// The highest signed release version a launcher has accepted, per document
// ("update.json", "complete/release.json"), kept in the state folder beside
// the run's state file so that a replayed older release is refused. One
// line per document, CR LF separated: name "=" version (unsigned decimal).
#pragma once
#include <cstdint>
#include <map>
#include <string>

// "data\update%d.versions" of a run's mode: the client run and the launcher
// run have documents of the same name ("complete/release.json") from
// different servers, so each keeps its own.
std::string AcceptedVersionsFileName(int mode);

// A file larger than this is not ours; it reads as empty.
constexpr int64_t MaxAcceptedVersionsFileSize = 64 * 1024;

class TAcceptedVersions {
public:
  // `path` is the full path of the versions file.
  explicit TAcceptedVersions(std::string path);

  // The highest version accepted for `document`; 0 when none was, and when
  // the file is missing or cannot be read (the first signed release then
  // sets the mark).
  uint64_t Highest(const std::string& document) const;
  // Records `version` for `document` when it is higher than the mark. The
  // file is written beside and renamed over the old one, so a failed write
  // keeps the old marks. False (with `error`) when it could not be written.
  bool Raise(const std::string& document, uint64_t version, std::string& error);

private:
  std::map<std::string, uint64_t> Load() const;
  std::string FPath;
};

// Splits versions text into its marks; a line that is not name "=" digits
// (no sign, no blank, no overflow) is skipped.
std::map<std::string, uint64_t> ParseAcceptedVersions(const std::string& text);
std::string FormatAcceptedVersions(const std::map<std::string, uint64_t>& marks);

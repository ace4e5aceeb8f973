// Small helpers shared by the test files: temporary folders, captured log
// lines and whole-file reads and writes.
#pragma once
#include <mutex>
#include <string>
#include <vector>

// A fresh folder under the system's temporary folder, removed with its
// contents on destruction. Path() ends with a separator.
class TTempFolder {
public:
  TTempFolder();
  ~TTempFolder();
  const std::string& Path() const { return FPath; }
  std::string operator/(const std::string& name) const { return FPath + name; }

private:
  std::string FPath;
};

// Collects every debug-output line while it lives.
class TLogCapture {
public:
  TLogCapture();
  ~TLogCapture();
  std::vector<std::string> Lines() const;
  bool Contains(const std::string& line) const;
  // Lines that hold `part` anywhere.
  int CountContaining(const std::string& part) const;

private:
  mutable std::mutex FLock;
  std::vector<std::string> FLines;
};

void WriteWholeFile(const std::string& path, const std::string& bytes);
std::string ReadWholeFile(const std::string& path);

// What an nginx connection log (a line a request: "CONNECTION REQUEST
// PIPE") says of the requests after `offset` whose request line starts with
// `prefix` ("GET /x"): how many, on how many connections, and how many nginx
// found already waiting behind an earlier request of their connection.
struct TServed {
  int requests = 0;
  int connections = 0;
  int pipelined = 0;
};
TServed ServedSince(const std::string& logPath, size_t offset, const std::string& prefix);

#include "e2e/RunFixture.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <sstream>

#include "common/Md5.h"
#include "package/LauncherSettings.h"
#include "platform/CodePage.h"
#include "platform/File.h"
#include "platform/Tick.h"
#include "tools/launcher-manifest/LauncherManifest.h"

int PortBase() {
  const char* base = std::getenv("LAUNCHER_TEST_PORT_BASE");
  return base ? std::atoi(base) : 21000;
}

std::string UpdateRoot() {
  const char* root = std::getenv("LAUNCHER_TEST_UPDATE_ROOT");
  return root ? root : "/nonexistent";
}

std::string HttpUrl(int offset) { return "http://127.0.0.1:" + std::to_string(PortBase() + offset) + "/"; }

std::string ServerUrl() { return HttpUrl(5); }

std::string Cp936(const char* utf8) { return Utf8ToCp936(utf8); }

std::string Bytes(size_t size, unsigned seed) {
  std::string bytes(size, '\0');
  uint32_t x = seed * 2654435761u + 1;
  for (char& c : bytes) {
    x = x * 1664525u + 1013904223u;
    c = static_cast<char>(x >> 24);
  }
  return bytes;
}

std::string Publish(const std::string& name, const TFiles& files, const std::vector<std::string>& flags) {
  EXPECT_NE(std::getenv("LAUNCHER_TEST_UPDATE_ROOT"), nullptr) << "LAUNCHER_TEST_UPDATE_ROOT is not set";
  PublishInto(UpdateRoot(), name, files, flags);
  return ServerUrl() + name + "/";
}

void PublishInto(const std::string& root, const std::string& name, const TFiles& files,
                 const std::vector<std::string>& flags) {
  TTempFolder release;
  for (const auto& [path, bytes] : files) {
    const std::string full = release.Path() + path;
    ForceDirectories(full.substr(0, full.find_last_of('/')));
    WriteWholeFile(full, bytes);
  }
  std::vector<std::string> args = {release.Path(), root + "/" + name};
  args.insert(args.end(), flags.begin(), flags.end());
  std::ostringstream out, err;
  EXPECT_EQ(RunLauncherManifest(args, out, err), 0) << err.str();
}

void ExpectInstalled(const std::string& folder, const TFiles& files) {
  for (const auto& [path, bytes] : files) EXPECT_EQ(MD5OfFile(folder + path), MD5OfMemory(bytes)) << path;
}

void FetchAll(THttpBatch& batch, const TFiles& files, const std::string& url, const std::string& folder) {
  std::vector<std::pair<int, std::string>> jobs;
  for (const auto& [path, bytes] : files) {
    TBatchJob job;
    job.Url = url + path;
    job.TargetPath = folder + path;
    job.ExpectedSize = static_cast<int64_t>(bytes.size());
    job.Md5 = MD5OfMemory(bytes);
    jobs.emplace_back(batch.Add(job), job.Url);
  }
  for (const auto& [job, jobUrl] : jobs) EXPECT_EQ(batch.Wait(job, 30000).Outcome, TBatchOutcome::Done) << jobUrl;
}

void TRunSink::Post(uint32_t message, uintptr_t wParam, intptr_t lParam) {
  std::lock_guard<std::mutex> guard(FLock);
  if (message == UM_STATUS_TEXT) FStatuses.push_back(TakePostedText(wParam));
  FMessages.push_back({message, message == UM_STATUS_TEXT ? 0 : wParam, lParam});
  if (message == UM_UPDATE_DONE) Done.SetEvent();
  if (message == UM_CURRENT_PROGRESS && wParam > 0) Progress.SetEvent();
}

std::vector<std::string> TRunSink::Statuses() {
  std::lock_guard<std::mutex> guard(FLock);
  return FStatuses;
}

std::vector<TRunSink::TMessage> TRunSink::Messages(uint32_t message) {
  std::lock_guard<std::mutex> guard(FLock);
  std::vector<TMessage> found;
  for (const TMessage& m : FMessages)
    if (m.message == message) found.push_back(m);
  return found;
}

bool TRunSink::Showed(const std::string& status) {
  for (const std::string& s : Statuses())
    if (s == status) return true;
  return false;
}

bool TRunSink::StatusStartsWith(const std::string& prefix) {
  for (const std::string& s : Statuses())
    if (s.rfind(prefix, 0) == 0) return true;
  return false;
}

std::string TRunSink::Last() {
  const std::vector<std::string> statuses = Statuses();
  return statuses.empty() ? std::string() : statuses.back();
}

bool TRunSink::FileBarFull() {
  for (const TMessage& m : Messages(UM_CURRENT_PROGRESS))
    if (m.lParam > 0 && m.wParam == static_cast<uintptr_t>(m.lParam)) return true;
  return false;
}

TUpdateEnvironment Environment(const std::string& folder) {
  TUpdateEnvironment environment;
  environment.LauncherFolder = folder;
  environment.LauncherBaseName = "launcher";
  return environment;
}

void RunUpdate(TRun& run, const std::string& folder, const std::string& baseUrl, int mode, uint32_t limitMs,
               const TUpdateEnvironment& environment) {
  TUpdateEnvironment used = environment;
  if (used.LauncherFolder.empty()) used = Environment(folder);
  const uint32_t start = GetTickCount32();
  {
    TUpdateThread thread(run.sink, mode, StateFileName(mode), mode == 0 ? ClientManifestName : LauncherManifestName,
                         baseUrl, used);
    run.posted = run.sink.Done.WaitFor(limitMs);
    EXPECT_TRUE(run.posted) << baseUrl;
    thread.TerminateAndWait();
    run.stillWrong = thread.FilesStillWrong();
    run.refused = thread.Refused();
    run.verdict = thread.RefusedVerdict();
    run.mirrors = thread.MirrorReports();
  }
  run.elapsedMs = GetTickCount32() - start;
  const auto done = run.sink.Messages(UM_UPDATE_DONE);
  if (!done.empty()) {
    run.result = done.front().wParam;
    run.mode = done.front().lParam;
  }
  if (FileExists(folder + "UpdateLog.txt")) run.log = ReadWholeFile(folder + "UpdateLog.txt");
}

std::string AccessLogPath() { return UpdateRoot() + "/../access.log"; }

std::string ConnectionLogPath() { return UpdateRoot() + "/../connections.log"; }

size_t LogSize(const std::string& path) { return ReadWholeFile(path).size(); }

TAccessTotals AccessSince(size_t offset, const std::vector<std::string>& parts) {
  const std::string log = ReadWholeFile(AccessLogPath());
  std::istringstream lines(log.substr(std::min(offset, log.size())));
  TAccessTotals totals;
  for (std::string line; std::getline(lines, line);) {
    bool all = true;
    for (const std::string& part : parts) all = all && line.find(part) != std::string::npos;
    // "combined": ... "REQUEST" STATUS BYTES ...
    const size_t quote = line.find("\" ", line.find("\"GET"));
    if (!all || quote == std::string::npos) continue;
    std::istringstream rest(line.substr(quote + 2));
    int status = 0;
    int64_t sent = 0;
    rest >> status >> sent;
    totals.sent += sent;
    ++totals.answers;
  }
  return totals;
}

TServed ServedSince(size_t offset, const std::string& prefix) {
  return ServedSince(ConnectionLogPath(), offset, prefix);
}

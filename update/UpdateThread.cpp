#include "update/UpdateThread.h"

#include <chrono>
#include <ctime>

#include "common/Format.h"
#include "common/Md5.h"
#include "common/PathUtils.h"
#include "net/uDnsLookup.h"
#include "package/LauncherConfig.h"
#include "package/LauncherSettings.h"
#include "platform/DebugOutput.h"
#include "platform/File.h"
#include "platform/Tick.h"

namespace {

TUpdateEnvironment Resolved(TUpdateEnvironment environment) {
  if (environment.LauncherFolder.empty()) environment.LauncherFolder = LauncherFolder();
  if (environment.LauncherBaseName.empty()) environment.LauncherBaseName = LauncherBaseName();
  return environment;
}

// "yyyy-mm-dd hh:nn:ss.zzz " in local time.
std::string LogTimestamp() {
  static std::mutex clockLock;
  const auto now = std::chrono::system_clock::now();
  const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
  const int millis = static_cast<int>(
      std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000);
  std::tm local;
  {
    std::lock_guard<std::mutex> guard(clockLock);
    local = *std::localtime(&seconds);
  }
  return Format("%04d-%02d-%02d %02d:%02d:%02d.%03d ", local.tm_year + 1900, local.tm_mon + 1, local.tm_mday,
                local.tm_hour, local.tm_min, local.tm_sec, millis);
}

std::string ReplaceBackslashes(std::string text) {
  for (size_t at = text.find("\\\\"); at != std::string::npos; at = text.find("\\\\", at + 1)) text.replace(at, 2, "/");
  for (char& c : text)
    if (c == '\\') c = '/';
  return text;
}

void WriteFileBytes(const std::string& path, const std::string& bytes) {
  TFileStream file(path, TFileMode::CreateTruncate);
  file.WriteBuffer(bytes.data(), bytes.size());
}

}  // namespace

TUpdateThread::TUpdateThread(TMessageSink& window, int mode, const std::string& stateFile,
                             const std::string& manifestName, const std::string& baseUrl,
                             const TUpdateEnvironment& environment)
    : FWindow(window),
      FMode(mode),
      FBaseUrl(baseUrl),
      FManifestName(manifestName),
      FStateFile(stateFile),
      FEnvironment(Resolved(environment)),
      FFiles(FEnvironment.LauncherFolder, FEnvironment.LauncherBaseName, stateFile, manifestName) {
  FFiles.IsCancelled = [this] { return Cancelled(); };
  FFiles.OnStatus = [this](const std::string& text) { ShowStatus(text); };
  FFiles.OnLog = [this](const std::string& text) { Log(text); };
  FFiles.OnTotalProgress = [this](uint32_t position, uint32_t maximum) { Post(UM_TOTAL_PROGRESS, position, maximum); };
  FPlan = ReadUpdateNow();
  Start();
}

TUpdateThread::~TUpdateThread() {
  TerminateAndWait();
  std::lock_guard<std::mutex> guard(FLogLock);
  if (FLogLines.empty()) return;
  try {
    std::string text;
    for (const std::string& line : FLogLines) text += line + "\r\n";
    WriteFileBytes(FEnvironment.LauncherFolder + "UpdateLog.txt", text);
  } catch (const std::exception& e) {
    DebugOutput(std::string("UpdateLog.txt: ") + e.what());
  }
}

void TUpdateThread::TerminatedSet() {
  std::lock_guard<std::mutex> guard(FDocumentLock);
  if (FDocument) FDocument->Abort();
}

void TUpdateThread::Log(const std::string& text) {
  const std::string line = LogTimestamp() + text;
  {
    std::lock_guard<std::mutex> guard(FLogLock);
    FLogLines.push_back(line);
  }
  DebugOutput(line);
}

void TUpdateThread::ShowStatus(const std::string& text) {
  Log(text);
  FWindow.Post(UM_STATUS_TEXT, NewPostedText(text), static_cast<intptr_t>(text.size()));
}

void TUpdateThread::Post(uint32_t message, int64_t wParam, int64_t lParam) {
  // Byte counts travel as their low 32 bits.
  FWindow.Post(message, static_cast<uint32_t>(wParam), static_cast<int32_t>(static_cast<uint32_t>(lParam)));
}

int TUpdateThread::ReadUpdateNow() const { return ::ReadUpdateNow(FEnvironment.LauncherFolder); }
void TUpdateThread::WriteUpdateNow(int value) const { ::WriteUpdateNow(FEnvironment.LauncherFolder, value); }

std::string TUpdateThread::DownloadHostName() const {
  if (!FEnvironment.DownloadHost.empty()) return FEnvironment.DownloadHost;
  if (!LauncherConfig.DownloadHost.empty()) return LauncherConfig.DownloadHost;
  THttpHeader base;
  base.SetRequest("GET", ReplaceBackslashes(FBaseUrl));
  return base.Host();
}

// --- the run -------------------------------------------------------------

void TUpdateThread::Execute() {
  int result = 0;
  try {
    result = Run();
  } catch (const std::exception& e) {
    // A document of the wrong shape ends the run as an error of the thread.
    Log(std::string("update run ended: ") + e.what());
    result = 0;
  }
  if (FFiles.StateChanged()) FFiles.SaveState();
  if (!Cancelled()) Post(UM_UPDATE_DONE, result, FMode);
}

int TUpdateThread::Run() {
  ShowStatus("正在检查更新...");
  if (!FetchManifest()) {
    if (Cancelled()) return 0;
    Log("[网络故障]: 域名服务器故障");
    ShowStatus(std::string("[网络故障]: 域名服务器故障") + "，请稍候再试");
    return 0;
  }
  if (!FFiles.LoadManifest()) return 0;
  FFiles.LoadState();
  if (Cancelled()) return 0;

  int plan = FPlan;
  TDownloadList list;
  if (plan == 0) {
    WriteUpdateNow(FFiles.CompareFiles(list));
    plan = 1;
  } else if (plan != 2) {
    FFiles.CompareFiles(list);
  }
  if (Cancelled()) return 0;
  if (plan == 2 && !DownloadFullPackage()) {
    if (Cancelled()) return 0;
    plan = 1;
    FFiles.CompareFiles(list);
    if (Cancelled()) return 0;
  }

  for (int pass = 0; pass < 3 && !list.empty(); ++pass) {
    const int n = static_cast<int>(list.size());
    for (int k = 1; k <= n; ++k) {
      if (Cancelled()) return 0;
      const size_t index = static_cast<size_t>(n - k);
      if (plan != 1 || DownloadFile(list[index], k, n)) list.erase(list.begin() + static_cast<long>(index));
    }
  }
  WriteUpdateNow(0);
  return 1;
}

// --- the manifest --------------------------------------------------------

bool TUpdateThread::FetchManifest() {
  ForceDirectories(ExtractFilePath(FEnvironment.LauncherFolder + "data\\" + FManifestName));
  if (FetchManifestFrom("")) return true;
  if (Cancelled()) return false;
  const std::string host = DownloadHostName();
  std::vector<std::string> addresses;
  ResolveHostAddresses(host, addresses);
  if (FetchThroughAddresses(addresses, "local DNSIP ")) return true;
  if (Cancelled()) return false;
  Log("request public DNSIP");
  addresses.clear();
  ResolveByPublicDns(host, addresses);
  Log("public DNSIP count " + std::to_string(addresses.size()));
  return FetchThroughAddresses(addresses, "public DNSIP ");
}

bool TUpdateThread::FetchThroughAddresses(std::vector<std::string>& addresses, const char* logPrefix) {
  const int n = static_cast<int>(addresses.size());
  for (int i = n - 1; i >= 0; --i) {
    if (Cancelled()) return false;
    Post(UM_TOTAL_PROGRESS, n - i, n);
    Log(logPrefix + addresses[static_cast<size_t>(i)]);
    if (FetchManifestFrom(addresses[static_cast<size_t>(i)])) return true;
    addresses.erase(addresses.begin() + i);
  }
  return false;
}

bool TUpdateThread::GetDocument(THttpGetDocument& document, const std::string& url, const std::string& address) {
  {
    std::lock_guard<std::mutex> guard(FDocumentLock);
    FDocument = &document;
  }
  const bool fetched = !Cancelled() && document.Get(url, address);
  // Forgotten under the lock before it goes, so a cancel never aborts a freed request.
  std::lock_guard<std::mutex> guard(FDocumentLock);
  FDocument = nullptr;
  return fetched;
}

bool TUpdateThread::FetchManifestFrom(const std::string& address) {
  const std::string url = FBaseUrl + "/" + FManifestName;
  Log("=>" + url);
  THttpGetDocument document(FEnvironment.Document);
  bool accepted = false;
  if (GetDocument(document, url, address)) {
    if (Cancelled()) return false;
    TJsonValue manifest;
    if (ParseUpdateJson(document.Body(), manifest) && IsAcceptedManifest(manifest)) {
      WriteFileBytes(FEnvironment.LauncherFolder + "data\\" + FManifestName, document.Body());
      accepted = true;
    }
  }
  if (!accepted && !Cancelled()) {
    ShowStatus("#100 : 下载配置文件失败，请检查网络。 " + document.ErrorText());
    Post(UM_UPDATE_ERROR, 100, 0);
  }
  return accepted;
}

// --- downloads -----------------------------------------------------------

bool TUpdateThread::Download(const std::string& url, const std::string& localPath, int workers, int64_t expectedSize) {
  THttpDownload download(workers, FEnvironment.Download);
  const int64_t done = FFiles.BytesDone(), total = FFiles.BytesTotal();
  download.OnReceived = [this, done, total](THttpDownload&, uint32_t elapsedMs, int64_t, int64_t received) {
    Post(UM_TOTAL_PROGRESS, done + received, total);
    Post(UM_DOWNLOAD_SPEED, received, elapsedMs);
  };
  download.OnWritten = [this](THttpDownload&, uint32_t, int64_t fileTotal, int64_t written) {
    Post(UM_CURRENT_PROGRESS, written, fileTotal);
  };
  const std::string folder = ExtractFilePath(localPath);
  ForceDirectories(folder);
  Post(UM_TOTAL_PROGRESS, done, total);
  Post(UM_DOWNLOAD_SPEED, 0, 0);
  Log("下载 " + ReplaceBackslashes(url));
  const TDownloadOutcome outcome =
      RunDownload(download, url, folder, expectedSize, [this] { return !Cancelled(); }, FEnvironment.PollMs);
  if (outcome == TDownloadOutcome::Failed) Log(download.ErrorText());
  return outcome == TDownloadOutcome::Done;
}

TArchiveHooks TUpdateThread::ArchiveHooks() {
  TArchiveHooks hooks;
  hooks.OnStartEntry = [this](int index, const std::string& target, int entryCount, bool& skip) {
    skip = Cancelled();
    if (!skip) ShowStatus(EntryStartStatus(target, index, entryCount));
  };
  hooks.OnFilePercent = [this](int percent) { Post(UM_CURRENT_PROGRESS, percent, 100); };
  hooks.OnTotalPercent = [this](int percent) { Post(UM_TOTAL_PROGRESS, percent, 100); };
  hooks.OnStatus = [this](const std::string& text) { ShowStatus(text); };
  hooks.IsCancelled = [this] { return Cancelled(); };
  return hooks;
}

// The launcher's own entry is fetched into a folder of its own and then
// moved to <base>.update: fetched in place it would replace the running
// program when the manifest names it by the program's own file name.
bool TUpdateThread::DownloadFile(const TDownloadItem& item, int k, int n) {
  const int workers = item.Size <= 4096 ? 1 : 5;
  const std::string name = item.IsZip ? item.File + ".zip" : item.File;
  const std::string& folder = FEnvironment.LauncherFolder;
  const bool self = item.isLauncher != 0;
  const std::string staging = folder + "data\\launcher\\";
  const std::string localPath = self ? staging + ExtractFileName(name) : folder + name;
  const std::string placed = self ? staging + ExtractFileName(item.File) : folder + item.File;
  ShowStatus(Format("正在下载 %s %d/%d", name.c_str(), k, n));
  if (!Download(FBaseUrl + "/" + name, localPath, workers, item.Size)) return false;

  bool ok = true;
  if (item.IsZip) {
    if (SameText(item.File, "launcher.dll")) return true;  // kept zipped, as downloaded
    const TArchiveResult extracted = ExtractFileArchive(localPath, ExtractFilePath(localPath), ArchiveHooks());
    if (extracted.filesExtracted == 0) {
      Log(item.File + " 解包失败.");
      ok = false;
    } else if (extracted.archiveSize != item.Size) {
      Log(item.File + " 解包长度不正确.");
      ok = false;
    }
    DeleteFileAt(localPath);
  }
  ShowStatus("校验 " + name + " ...");
  if (ok) {
    if (self) {
      const std::string update = FEnvironment.LauncherBaseName + ".update";
      ok = MD5OfFile(placed) == item.Hash;
      if (ok) {
        DeleteFileAt(folder + update);
        ok = RenameFileAt(placed, folder + update) && FFiles.VerifyFile(update, item.Hash);
      }
    } else {
      ok = FFiles.VerifyFile(item.File, item.Hash);
    }
    if (!ok) Log(Format("%s %s md5=%s", item.File.c_str(), " MD5值不正确.", item.Hash.c_str()));
  }
  if (!ok) return false;
  FFiles.AddBytesDone(item.Size);
  return true;
}

bool TUpdateThread::DownloadFullPackage() {
  ShowStatus("正在下载完整包...");
  THttpGetDocument document(FEnvironment.Document);
  const bool fetched = GetDocument(document, FBaseUrl + "complete/" + "release.json", "");
  TReleaseDocument release;
  if (!fetched || !ReadReleaseDocument(document.Body(), release)) {
    Log("更新失败，请稍后再试");
    return false;
  }
  const std::string localName =
      release.isLauncher != 0 ? FEnvironment.LauncherBaseName + ".update" : release.File;
  const std::string localPath = FEnvironment.LauncherFolder + localName;
  FFiles.SetByteCounts(0, release.Size);
  Post(UM_TOTAL_PROGRESS, 0, release.Size);
  // A package already on disk is unpacked, and the compare then fetches
  // whatever an older package did not bring.
  if (FileExists(localPath) && ExtractPackage(localPath, ArchiveHooks())) return false;

  const std::string url = ReplaceBackslashes(FBaseUrl + "complete/" + release.File);
  ShowStatus("正在下载 " + ExtractFileName(localName));
  const bool downloaded = Download(url, localPath, 5, release.Size);
  if (Cancelled()) return false;
  if (!downloaded) {
    ShowStatus("下载文件 " + localName + " 失败，请稍后再试");
    return false;
  }
  if (!FileExists(localPath)) return false;
  if (ExtractPackage(localPath, ArchiveHooks())) return true;
  if (Cancelled()) return false;
  ShowStatus("校验下载的文件...");
  if (!SameDigestIgnoringCase(MD5OfFile(localPath), release.MD5)) {
    ShowStatus(localName + " 校验错误，请稍后再试 ");
    DeleteFileAt(localPath);
  }
  return false;
}

// The update run's documents: each from the first mirror that gives a good
// one, the manifest (through the resolvers when the direct requests fail),
// the signatures that vouch for them and the marks of the versions accepted.
#include <algorithm>
#include <ctime>
#include <optional>
#include <utility>
#include <vector>

#include "common/Format.h"
#include "common/PathUtils.h"
#include "net/uDnsLookup.h"
#include "platform/File.h"
#include "update/run/UpdateTexts.h"
#include "update/run/UpdateThread.h"
#include "update/run/WholeFile.h"

namespace {

// An error status as the server gave it, else our own reason's first line.
std::string FailureText(const THttpGetDocument& request) {
  const int status = request.Response().Status();
  if (status >= 400) return Format("status %d %s", status, request.Response().Reason().c_str());
  const std::string error = request.ErrorText().substr(0, request.ErrorText().find_first_of("\r\n"));
  return error.empty() ? std::string("no answer") : error;
}

}  // namespace

// A base text without "|" is the one address the run uses, as it is. With
// several, the run names every file below the first and its transports
// fetch from whichever mirrors serve best, logging who delivered what.
void TUpdateThread::SetUpMirrors() {
  FMirrors = std::make_shared<TMirrorSet>(FBaseUrl);
  if (FMirrors->Count() <= 1) return;
  FBaseUrl = FMirrors->Base(0);
  FMirrors->SetLog([this](const std::string& line) { Log(line); });
  FEnvironment.Download.Worker.Mirrors = FMirrors;
  FEnvironment.Batch.Mirrors = FMirrors;
}

// --- documents from the mirrors -------------------------------------------

// A mirror is left for the next one on any failure: no answer in time, an
// error status, a body that does not inflate, a refused signature (a stale
// or forged copy) or a body the check does not take. Only once another
// mirror gave a good document are those before it set aside: a run whose
// mirrors all fail ends as a run with one mirror ends.
bool TUpdateThread::FetchFromMirrors(TMirrorDocument& document) {
  const size_t count = document.Address.empty() ? FMirrors->Count() : 1;
  const bool several = FMirrors->Count() > 1;
  std::vector<std::pair<size_t, std::string>> failed;
  std::optional<TSignatureVerdict> refusal;
  for (size_t mirror = 0; mirror < count; ++mirror) {
    if (Cancelled()) return false;
    if (FMirrors->IsSetAside(mirror)) continue;
    size_t later = 0;
    for (size_t m = mirror + 1; m < count; ++m) later += FMirrors->IsSetAside(m) ? 0 : 1;
    THttpDocumentOptions options = document.Options;
    // A mirror that has not connected in time is left while a later one
    // remains to ask; the last keeps the run's own bounds.
    if (later > 0) {
      options.WatchdogMs = std::min(options.WatchdogMs, MirrorConnectMs);
      options.ConnectTimeoutMs = std::min(options.ConnectTimeoutMs, MirrorConnectMs);
    }
    document.Url = FMirrors->Base(mirror) + document.Suffix;
    if (document.SlashPath) document.Url = UrlSlashes(document.Url);
    if (!document.Lead.empty()) Log(document.Lead + document.Url);
    THttpGetDocument request(options);
    std::string why;
    bool got = false;
    try {
      got = GetDocument(request, document.Url, document.Address);
    } catch (const EInflateError& e) {
      // With no mirror left to ask, the run ends on it as it always did.
      if (later == 0 && failed.empty()) throw;
      why = e.what();
    }
    if (Cancelled()) return false;
    document.ErrorText = request.ErrorText();
    document.HeaderLines = request.ResponseHeaderLines();
    if (got) {
      if (FKey && !document.Signed.empty()) {
        const std::optional<TSignatureVerdict> verdict =
            SignatureVerdict(document.Signed, document.Url, document.Address, request.Body(), document.Version);
        if (!verdict) return false;
        if (*verdict != TSignatureVerdict::Accepted) {
          if (!refusal) refusal = verdict;
          why = std::string("signature refused: ") + VerdictName(*verdict);
        }
      }
      if (why.empty() && document.Check) why = document.Check(request.Body());
      if (why.empty()) {
        document.Mirror = mirror;
        document.Body = request.Body();
        for (const auto& [m, reason] : failed) FMirrors->SetAside(m, document.Name + " " + reason);
        return true;
      }
    } else if (why.empty()) {
      why = "cannot be fetched: " + FailureText(request);
    }
    document.Why = why;
    failed.emplace_back(mirror, why);
    if (several) Log("mirror " + FMirrors->Base(mirror) + " skipped for " + document.Name + ": " + why);
  }
  if (refusal) Refuse(document.Signed, *refusal);
  return false;
}

// --- the manifest --------------------------------------------------------

// A refused signature ends the fetch: the other addresses lead to the same
// server, and the player is told why instead of a network fault. With
// several mirrors the addresses are tried once every mirror failed by name,
// those of the first mirror's host (DownloadHostName).
bool TUpdateThread::FetchManifest() {
  if (FetchManifestFrom("")) return true;
  if (Cancelled() || Refused()) return false;
  const std::string host = DownloadHostName();
  std::vector<std::string> addresses;
  ResolveHostAddresses(host, addresses);
  if (FetchThroughAddresses(addresses, "local DNSIP ")) return true;
  if (Cancelled() || Refused()) return false;
  Log("request public DNSIP");
  addresses.clear();
  ResolveByPublicDns(host, addresses);
  Log("public DNSIP count " + std::to_string(addresses.size()));
  return FetchThroughAddresses(addresses, "public DNSIP ");
}

bool TUpdateThread::FetchThroughAddresses(std::vector<std::string>& addresses, const char* logPrefix) {
  const int n = static_cast<int>(addresses.size());
  for (int i = n - 1; i >= 0; --i) {
    if (Cancelled() || Refused()) return false;
    Post(UM_TOTAL_PROGRESS, n - i, n);
    Log(logPrefix + addresses[static_cast<size_t>(i)]);
    if (FetchManifestFrom(addresses[static_cast<size_t>(i)])) return true;
    addresses.erase(addresses.begin() + i);
  }
  return false;
}

bool TUpdateThread::GetDocument(THttpGetDocument& document, const std::string& url, const std::string& address) {
  // Forgotten under the lock on every way out (a body that does not inflate
  // throws), so a cancel never aborts a request that is gone.
  struct TForget {
    TUpdateThread& thread;
    ~TForget() {
      std::lock_guard<std::mutex> guard(thread.FDocumentLock);
      thread.FDocument = nullptr;
    }
  };
  {
    std::lock_guard<std::mutex> guard(FDocumentLock);
    FDocument = &document;
  }
  const TForget forget{*this};
  return !Cancelled() && document.Get(url, address);
}

// The signature is checked on the bytes as fetched, before they are parsed.
bool TUpdateThread::FetchManifestFrom(const std::string& address) {
  TMirrorDocument manifest;
  manifest.Name = FManifestName;
  manifest.Suffix = "/" + FManifestName;
  manifest.Signed = FManifestName;
  manifest.Address = address;
  manifest.Options = FEnvironment.Document;
  manifest.Check = [](const std::string& body) {
    return IsAcceptedManifestText(body) ? std::string() : std::string("is not a manifest");
  };
  if (FetchFromMirrors(manifest)) {
    const std::string copy = FEnvironment.LauncherFolder + "data\\" + FManifestName;
    ForceDirectories(ExtractFilePath(copy));
    ReplaceFileBytes(copy, manifest.Body);
    FServerAddress = address;
    if (FKey) RecordAccepted(FManifestName, manifest.Version);
    // Reached through an address of the first mirror's host, the run keeps
    // to that server: the others failed by name already.
    if (!address.empty())
      for (size_t m = 1; m < FMirrors->Count(); ++m)
        FMirrors->SetAside(m, FManifestName + " reached only through " + address + " of the first mirror");
    return true;
  }
  if (Cancelled() || Refused()) return false;
  // The player's line carries the server's header lines only; a reason of
  // our own (a refused redirect, a body too large) goes to the log.
  if (manifest.ErrorText != manifest.HeaderLines) Log(manifest.ErrorText);
  ShowStatus(UpdateText::ManifestFailed + manifest.HeaderLines);
  Post(UM_UPDATE_ERROR, 100, 0);
  return false;
}

// --- signatures ----------------------------------------------------------

// The release document is signed under its run's own name, and may not be
// older than the manifest this run accepted.
std::optional<TSignatureVerdict> TUpdateThread::SignatureVerdict(const std::string& document, const std::string& url,
                                                                 const std::string& address, const std::string& bytes,
                                                                 uint64_t& version) {
  const TFetchedSignature signature = FetchSignature(url + ".sig", address);
  if (Cancelled()) return std::nullopt;
  const bool release = document == ReleaseDocumentName;
  const uint64_t highest = std::max(FVersions.Highest(document), release ? FManifestVersion : 0);
  const std::string signedName = release ? ReleaseSignatureName(FManifestName) : document;
  const TSignatureVerdict verdict = CheckFetchedSignature(signedName, bytes, signature, *FKey,
                                                          static_cast<int64_t>(std::time(nullptr)), highest, version);
  if (verdict == TSignatureVerdict::Accepted)
    Log("signature of " + document + " accepted: version " + std::to_string(version));
  else
    Log("signature of " + document + " refused: " + VerdictName(verdict) +
        " (highest version accepted before: " + std::to_string(highest) + ")");
  return verdict;
}

void TUpdateThread::Refuse(const std::string& document, TSignatureVerdict verdict) {
  FVerdict = verdict;
  FRefused = true;
  ShowStatus(RefusedStatus(verdict, document));
}

// Bounded like the signature file itself: a larger body is never read whole.
TFetchedSignature TUpdateThread::FetchSignature(const std::string& url, const std::string& address) {
  THttpDocumentOptions options = FEnvironment.Document;
  options.Limits.MaxBodySize = MaxSignatureFileSize;
  options.Limits.MaxInflatedSize = MaxSignatureFileSize;
  THttpGetDocument document(options);
  TFetchedSignature signature;
  Log("=>" + url);
  try {
    if (GetDocument(document, url, address)) {
      signature.served = true;
      signature.text = document.Body();
      return signature;
    }
  } catch (const EInflateError& e) {
    Log(e.what());
    signature.unusable = true;
    return signature;
  }
  if (!document.ErrorText().empty()) Log(document.ErrorText());
  // A body refused after a 200 answer (too large, broken) was served all the
  // same: it is a bad signature file, not a missing one.
  const int status = document.Response().Status();
  signature.unusable = status == 200 || status == 206;
  return signature;
}

void TUpdateThread::RecordAccepted(const std::string& document, uint64_t version) {
  if (document == FManifestName) FManifestVersion = version;
  std::string error;
  if (!FVersions.Raise(document, version, error)) Log("accepted release version not recorded: " + error);
}


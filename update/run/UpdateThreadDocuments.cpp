// The update run's documents: the manifest (through the resolvers when the
// direct request fails), the signatures that vouch for them and the marks
// of the versions accepted.
#include <algorithm>
#include <ctime>

#include "common/Format.h"
#include "common/PathUtils.h"
#include "net/uDnsLookup.h"
#include "platform/File.h"
#include "update/run/UpdateTexts.h"
#include "update/run/UpdateThread.h"
#include "update/run/WholeFile.h"

// A base text without "|" is the one address the run uses, as it is.
void TUpdateThread::SetUpMirrors() {
  FMirrors = std::make_shared<TMirrorSet>(FBaseUrl);
  if (FMirrors->Count() > 1) FBaseUrl = FMirrors->Base(0);
}

// --- the manifest --------------------------------------------------------

// A refused signature ends the fetch: the other addresses lead to the same
// server, and the player is told why instead of a network fault.
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

bool TUpdateThread::FetchManifestFrom(const std::string& address) {
  const std::string url = FBaseUrl + "/" + FManifestName;
  Log("=>" + url);
  THttpGetDocument document(FEnvironment.Document);
  bool accepted = false;
  if (GetDocument(document, url, address)) {
    if (Cancelled()) return false;
    // The signature is checked on the bytes as fetched, before they are parsed.
    uint64_t version = 0;
    if (FKey && !SignatureAccepted(FManifestName, url, address, document.Body(), version)) return false;
    if (IsAcceptedManifestText(document.Body())) {
      const std::string copy = FEnvironment.LauncherFolder + "data\\" + FManifestName;
      ForceDirectories(ExtractFilePath(copy));
      ReplaceFileBytes(copy, document.Body());
      FServerAddress = address;
      accepted = true;
      if (FKey) RecordAccepted(FManifestName, version);
    }
  }
  if (!accepted && !Cancelled()) {
    // The player's line carries the server's header lines only; a reason of
    // our own (a refused redirect, a body too large) goes to the log.
    if (document.ErrorText() != document.ResponseHeaderLines()) Log(document.ErrorText());
    ShowStatus(UpdateText::ManifestFailed + document.ResponseHeaderLines());
    Post(UM_UPDATE_ERROR, 100, 0);
  }
  return accepted;
}

// --- signatures ----------------------------------------------------------

// The release document is signed under its run's own name, and may not be
// older than the manifest this run accepted.
bool TUpdateThread::SignatureAccepted(const std::string& document, const std::string& url, const std::string& address,
                                      const std::string& bytes, uint64_t& version) {
  const TFetchedSignature signature = FetchSignature(url + ".sig", address);
  if (Cancelled()) return false;
  const bool release = document == ReleaseDocumentName;
  const uint64_t highest = std::max(FVersions.Highest(document), release ? FManifestVersion : 0);
  const std::string signedName = release ? ReleaseSignatureName(FManifestName) : document;
  const TSignatureVerdict verdict = CheckFetchedSignature(signedName, bytes, signature, *FKey,
                                                          static_cast<int64_t>(std::time(nullptr)), highest, version);
  if (verdict == TSignatureVerdict::Accepted) {
    Log("signature of " + document + " accepted: version " + std::to_string(version));
    return true;
  }
  FVerdict = verdict;
  FRefused = true;
  Log("signature of " + document + " refused: " + VerdictName(verdict) +
      " (highest version accepted before: " + std::to_string(highest) + ")");
  ShowStatus(RefusedStatus(verdict, document));
  return false;
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


// How an update run ended, in one value: the window picks its closing text
// from it and launcher-update its exit code. The codes of TRunEnd are
// stable: logs and scripts may keep them.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "signing/ReleaseCheck.h"

enum class TRunEnd : int {
  Done = 0,                // every needed file is right
  FilesStillWrong = 1,     // the run went through, but files are missing or wrong (or refused entries)
  ManifestNotFetched = 2,  // no manifest from any server (a network fault)
  SignatureRefused = 3,    // a document's signature did not pass (Verdict says why); nothing changed
  CertificateRefused = 4,  // no manifest, and a server's certificate was refused on the way
  KeyInvalid = 5,          // the package's key text is not a key: the run refused to update at all
  DiskShort = 6,           // the volume has less room than the run needs; nothing was written
  Cancelled = 7,           // stopped from outside (the window closed, Ctrl-C)
  DocumentWrongShape = 8,  // the manifest (or the state) has an element of the wrong type
  ManifestUnreadable = 9,  // the fetched manifest copy could not be read
  Running = 10,            // not ended yet
};

// What a repair did: files checked by their content, files fetched again
// (whole, by their damaged chunks, or from their archive), and the bytes
// received from the network over all transports.
struct TRepairFigures {
  int Checked = 0;
  int Repaired = 0;
  int64_t BytesFetched = 0;
};

struct TRunOutcome {
  TRunEnd End = TRunEnd::Running;
  TSignatureVerdict Verdict = TSignatureVerdict::Accepted;  // for SignatureRefused
  // Needed files still missing or wrong; refused entries end in " (refused)".
  std::vector<std::string> StillWrong;
  bool Repair = false;
  TRepairFigures Figures;  // counted in every run; a repair reports them
};

// Whether the window hears success (UM_UPDATE_DONE's wParam 1): the player
// may log in even when files are still wrong.
bool RunWentThrough(TRunEnd end);
// launcher-update's exit code.
int ExitCode(const TRunOutcome& outcome);
// The text the window shows on its status line once the run has ended;
// empty when the run's own last status line stays (every run but a repair
// that went through).
std::string ClosingStatusText(const TRunOutcome& outcome);
// "repair: N files checked, M files repaired, B bytes fetched"
std::string RepairSummary(const TRepairFigures& figures);

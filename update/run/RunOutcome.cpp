#include "update/run/RunOutcome.h"

#include "common/Format.h"
#include "update/run/UpdateTexts.h"

bool RunWentThrough(TRunEnd end) { return end == TRunEnd::Done || end == TRunEnd::FilesStillWrong; }

int ExitCode(const TRunOutcome& outcome) {
  switch (outcome.End) {
    case TRunEnd::Done: return 0;
    case TRunEnd::FilesStillWrong: return 3;
    case TRunEnd::SignatureRefused: return 4;
    case TRunEnd::CertificateRefused: return 5;
    case TRunEnd::DiskShort: return 6;
    // The tool refuses such a --key before any run, as wrong arguments.
    case TRunEnd::KeyInvalid: return 2;
    default: return 1;
  }
}

std::string ClosingStatusText(const TRunOutcome& outcome) {
  if (!outcome.Repair || outcome.End != TRunEnd::Done) return std::string();
  if (outcome.Figures.Repaired == 0) return UpdateText::RepairDoneIntact;
  return Format(UpdateText::RepairDoneRepaired, outcome.Figures.Repaired);
}

std::string RepairSummary(const TRepairFigures& figures) {
  return Format("repair: %d files checked, %d files repaired, %lld bytes fetched", figures.Checked, figures.Repaired,
                static_cast<long long>(figures.BytesFetched));
}

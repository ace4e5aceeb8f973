#include "update/archive/ArchiveExtraction.h"

#include "common/Format.h"
#include "common/Md5.h"
#include "common/PathUtils.h"
#include "update/run/UpdateTexts.h"
#include "platform/File.h"
#include "update/archive/ZipExtract.h"

namespace {

TZipExtractor MakeExtractor(const std::string& folder, bool recreateDirs, const TArchiveHooks& hooks, bool total) {
  TZipExtractor extractor;
  extractor.Options.DoAll = true;
  extractor.Options.OverwriteMode = "Always";
  extractor.Options.DestDir = folder;
  extractor.Options.RecreateDirs = recreateDirs;
  extractor.Options.ZipAction = "zaReplace";
  extractor.Hooks.OnStartEntry = hooks.OnStartEntry;
  extractor.Hooks.OnFilePercent = hooks.OnFilePercent;
  if (total) extractor.Hooks.OnTotalPercent = hooks.OnTotalPercent;
  return extractor;
}

}  // namespace

TArchiveResult ExtractFileArchive(const std::string& archive, const std::string& folder,
                                  const TArchiveEntryCheck& check, const TArchiveHooks& hooks) {
  TZipExtractor extractor = MakeExtractor(folder, false, hooks, false);
  extractor.Options.DoAll = false;
  extractor.Options.OnlyFile = check.File;
  extractor.Options.Sha256 = !check.Sha256.empty();
  extractor.Hooks.AcceptEntry = [&check](const TZipEntryDigests& digests, std::string& why) {
    // An empty file's MD5 has two spellings; either stands for it.
    const bool md5 = digests.Size == 0 ? IsEmptyDigest(check.Md5) : digests.Md5 == check.Md5;
    if (!md5) {
      why = "MD5 " + digests.Md5 + ", the manifest says " + check.Md5;
      return false;
    }
    if (!check.Sha256.empty() && digests.Sha256 != check.Sha256) {
      why = "SHA-256 " + digests.Sha256 + ", the manifest says " + check.Sha256;
      return false;
    }
    return true;
  };
  TArchiveResult result;
  result.filesExtracted = extractor.Extract(archive);
  result.writeFailed = extractor.WriteFailed;
  result.unpackedSize = static_cast<int64_t>(extractor.UnpackedBytes);
  result.error = extractor.FirstError;
  result.archiveSize = GetFileSize(archive);
  return result;
}

bool ExtractPackage(const std::string& archive, const TArchiveHooks& hooks) {
  const std::string unpacking = UpdateText::Unpacking;
  const std::string failed = UpdateText::UnpackPackageFailed;
  TZipExtractor extractor = MakeExtractor(ExtractFilePath(archive), true, hooks, true);
  if (hooks.OnStatus) hooks.OnStatus(unpacking + ExtractFileName(archive));
  if (extractor.Extract(archive) == 0) {
    if (hooks.OnStatus) hooks.OnStatus(failed);
    return false;
  }
  if (hooks.IsCancelled && hooks.IsCancelled()) return false;
  DeleteFileAt(archive);
  return true;
}

std::string EntryStartStatus(const std::string& target, int index, int entryCount) {
  return Format(UpdateText::UnpackingEntry, ExtractFileName(target).c_str(), index, entryCount);
}

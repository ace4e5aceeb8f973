#include "tools/launcher-manifest/LauncherManifest.h"

#include <chrono>
#include <climits>
#include <memory>
#include <nlohmann/json.hpp>

#include "common/DelimitedText.h"
#include "common/Md5.h"
#include "common/PathUtils.h"
#include "common/TextCase.h"
#include "platform/CodePage.h"
#include "platform/File.h"
#include "signing/Crypto.h"
#include "signing/Signer.h"
#include "update/chunks/ChunkAssembly.h"
#include "update/chunks/ChunkFields.h"
#include "tools/launcher-manifest/ManifestArguments.h"
#include "tools/launcher-manifest/ReleaseFiles.h"
#include "update/manifest/SignedDocuments.h"
#include "update/archive/ZipWriter.h"

namespace {

using TJson = nlohmann::ordered_json;

// Thrown to end the run with exit code 1.
struct TToolFailure {
  std::string text;
};

std::string Lower(std::string text) {
  for (char& c : text)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 0x20);
  return text;
}

// The launcher's own executable: an .exe at the top of the launcher run's release.
bool IsLauncherFile(const std::string& name, const std::string& manifestName) {
  return manifestName == "updateL.json" && LastSeparator(name) == std::string::npos && name.size() > 4 &&
         Lower(name.substr(name.size() - 4)) == ".exe";
}

// A manifest reads Size as a signed 32-bit integer.
int32_t ManifestSize(const std::string& name, int64_t size) {
  if (size > INT32_MAX)
    throw TToolFailure{Cp936ToUtf8(name) + " is " + std::to_string(size) +
                       " bytes; a manifest describes at most 2147483647 (use --full-package for such files)"};
  return static_cast<int32_t>(size);
}

std::string FileSha256(const std::string& path) {
  const std::string digest = Sha256OfFile(path);
  if (digest.empty()) throw TToolFailure{"cannot read " + Cp936ToUtf8(path)};
  return digest;
}

void WriteReplacing(const std::string& path, const std::string& text) {
  const std::string temporary = path + ".tmp";
  {
    TFileStream file(temporary, TFileMode::CreateTruncate);
    file.WriteBuffer(text.data(), text.size());
  }
  if (!RenameFileAt(temporary, path)) throw TToolFailure{"cannot write " + Cp936ToUtf8(path)};
}

// The key and the fields of the signatures of one run.
struct TSigning {
  TSigningKey key;
  uint64_t version = 0;
  int64_t expires = 0;
};

std::unique_ptr<TSigning> LoadSigning(const TManifestArguments& args) {
  if (args.signKey.empty()) return nullptr;
  auto signing = std::make_unique<TSigning>();
  std::string error;
  if (!signing->key.ReadFile(args.signKey, error)) throw TToolFailure{error};
  const int64_t now =
      std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch()).count();
  signing->version = args.releaseVersion.value_or(static_cast<uint64_t>(now));
  signing->expires = now + static_cast<int64_t>(args.expiresDays) * 24 * 60 * 60;
  return signing;
}

// Writes a document of the update server and, when signing, its ".sig"
// beside it. `name` is its address relative to the base ("complete/release.json").
// The signature is made before anything is written, so a failure leaves
// the old pair in place.
// `signedName` is the name the signature gives it (empty: `name`).
void WriteDocument(const std::string& outDir, const std::string& name, const std::string& text,
                   const TSigning* signing, const std::string& signedName = std::string()) {
  const std::string path = WithSeparator(outDir) + name;
  std::string signatureFile;
  if (signing) {
    TReleaseSignature sig;
    std::string error;
    if (!signing->key.Sign(signedName.empty() ? name : signedName, text, signing->version, signing->expires, sig,
                           error))
      throw TToolFailure{error};
    signatureFile = FormatSignatureFile(sig);
  }
  WriteReplacing(path, text);
  if (signing) WriteReplacing(path + ".sig", signatureFile);
}

TJson PublishFile(const TManifestArguments& args, const TReleaseFile& file) {
  const std::string source = WithSeparator(args.releaseDir) + file.name;
  const std::string target = WithSeparator(args.outDir) + file.name;
  ForceDirectories(ExtractFilePath(target));
  if (!CopyFileAt(source, target)) throw TToolFailure{"cannot copy " + Cp936ToUtf8(file.name)};
  // An empty file's digest is 32 "0", as the launcher computes it; launchers
  // of every version accept that for an empty file.
  const std::string hash = MD5OfFile(source);
  int64_t size = file.size;
  if (args.zip) {
    TZipWriter archive(target + ".zip");
    archive.AddFile(source, ExtractFileName(file.name));
    size = archive.Finish();
  }
  TJson element;
  element["File"] = Cp936ToUtf8(file.name);
  element["isLauncher"] = IsLauncherFile(file.name, args.name) ? 1 : 0;
  element["Need"] = true;
  element["Hash"] = hash;
  element["Size"] = ManifestSize(file.name, size);
  element["IsZip"] = args.zip;
  // SHA-256 beside every MD5: a run with the package's key requires it. It
  // is written unsigned too, so a release signed by another signer has it.
  element["Sha256"] = FileSha256(source);
  if (args.zip) {
    element["ZipHash"] = MD5OfFile(target + ".zip");
    element["ZipSha256"] = FileSha256(target + ".zip");
  }
  // A large file gets its chunk index beside it: launchers that know it fetch
  // only the chunks they lack; the others skip its scalar keys.
  if (!args.zip && args.chunkIndexFrom > 0 && file.size >= args.chunkIndexFrom) {
    TChunkIndex index;
    if (!BuildChunkIndex(source, index)) throw TToolFailure{"cannot read " + Cp936ToUtf8(file.name)};
    const std::string bytes = WriteChunkIndex(index);
    WriteReplacing(target + ChunkIndexSuffix, bytes);
    element[ChunkIndexKey] = Cp936ToUtf8(file.name + ChunkIndexSuffix);
    element[ChunkIndexSizeKey] = bytes.size();
    element[ChunkIndexMd5Key] = MD5OfMemory(bytes);
    element[ChunkIndexSha256Key] = Sha256Hex(bytes);
  }
  return element;
}

void PublishFullPackage(const TManifestArguments& args, const std::vector<TReleaseFile>& files,
                        const TSigning* signing) {
  const std::string folder = WithSeparator(args.outDir) + "complete\\";
  const std::string name = FullPackageName(args.name);
  ForceDirectories(folder);
  int64_t size = 0;
  {
    TZipWriter package(folder + name + ".tmp");
    for (const TReleaseFile& file : files) {
      std::string entry = file.name;
      for (size_t i = 0; i < entry.size(); i = NextCharIndex(entry, i))
        if (entry[i] == '\\') entry[i] = '/';
      package.AddFile(WithSeparator(args.releaseDir) + file.name, entry);
    }
    size = package.Finish();
  }
  if (!RenameFileAt(folder + name + ".tmp", folder + name)) throw TToolFailure{"cannot write " + Cp936ToUtf8(name)};
  TJson release;
  release["File"] = Cp936ToUtf8(name);
  release["isLauncher"] = 0;
  release["MD5"] = MD5OfFile(folder + name);
  release["Size"] = size;
  release["Sha256"] = FileSha256(folder + name);
  WriteDocument(args.outDir, ReleaseDocumentName, release.dump(2) + "\n", signing, ReleaseSignatureName(args.name));
}

}  // namespace

std::string FullPackageName(const std::string& manifestName) {
  return manifestName.substr(0, manifestName.rfind('.')) + "-full.zip";
}

int RunLauncherManifest(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  TManifestArguments parsed;
  std::string error;
  if (!ParseManifestArguments(args, parsed, error)) {
    err << "launcher-manifest: " << error << "\n" << ManifestUsage;
    return 2;
  }
  std::vector<TReleaseFile> files;
  if (!ListReleaseFiles(parsed.releaseDir, parsed.outDir, files, error)) {
    err << "launcher-manifest: " << Cp936ToUtf8(error) << "\n";
    return 1;
  }
  if (files.empty()) {
    err << "launcher-manifest: the release folder holds no files\n";
    return 1;
  }
  // Refused before anything is written: launchers would refuse these files.
  const std::vector<std::string> problems = UnpublishableFiles(files);
  for (const std::string& problem : problems) err << "launcher-manifest: " << problem << "\n";
  if (!problems.empty()) return 1;
  std::unique_ptr<TSigning> signing;
  try {
    // The key is read first: a run that cannot sign changes nothing.
    signing = LoadSigning(parsed);
    if (!ForceDirectories(parsed.outDir)) throw TToolFailure{"cannot create " + Cp936ToUtf8(parsed.outDir)};
    if (parsed.chunkIndexFrom > 0 && !parsed.zip)
      for (const TReleaseFile& file : files)
        if (file.size >= parsed.chunkIndexFrom)
          for (const TReleaseFile& other : files)
            if (SameText(other.name, file.name + ChunkIndexSuffix))
              throw TToolFailure{Cp936ToUtf8(other.name) + " would be overwritten by the chunk index of " +
                                 Cp936ToUtf8(file.name) + " (use --chunk-index 0 or rename it)"};
    TJson manifest = TJson::array();
    for (const TReleaseFile& file : files) manifest.push_back(PublishFile(parsed, file));
    if (parsed.fullPackage) PublishFullPackage(parsed, files, signing.get());
    // The manifest goes last: a server updated in place names new files only
    // once they are there.
    WriteDocument(parsed.outDir, parsed.name, manifest.dump(2) + "\n", signing.get());
  } catch (const TToolFailure& failure) {
    err << "launcher-manifest: " << failure.text << "\n";
    return 1;
  } catch (const EFileError& failure) {
    err << "launcher-manifest: " << Cp936ToUtf8(failure.what()) << "\n";
    return 1;
  }
  out << files.size() << " files in " << parsed.name << (parsed.zip ? " (zipped)" : "")
      << (parsed.fullPackage ? ", full package complete/" + FullPackageName(parsed.name) : "");
  if (signing) out << ", signed (version " << signing->version << ", expires " << signing->expires << ")";
  out << "\n";
  return 0;
}

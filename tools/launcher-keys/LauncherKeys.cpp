#include "tools/launcher-keys/LauncherKeys.h"

#include "platform/CodePage.h"
#include "signing/Signer.h"

const char* const KeysUsage =
    "usage: launcher-keys new PRIVATE_KEY_FILE\n"
    "       launcher-keys public PRIVATE_KEY_FILE\n"
    "  new     makes an ECDSA P-256 key pair, writes the private key to PRIVATE_KEY_FILE\n"
    "          (PEM, readable by its owner only; an existing file is never replaced)\n"
    "          and prints the public key text that launcher-pack --public-key takes\n"
    "  public  prints the public key text of an existing PRIVATE_KEY_FILE again\n";

namespace {

int Fail(std::ostream& err, const std::string& error) {
  err << "launcher-keys: " << error << "\n";
  return 1;
}

}  // namespace

int RunLauncherKeys(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  if (args.size() == 1 && (args[0] == "--help" || args[0] == "-h")) {
    out << KeysUsage;
    return 0;
  }
  if (args.size() != 2 || (args[0] != "new" && args[0] != "public")) {
    err << "launcher-keys: " << (args.empty() ? "a command is needed" : "unknown command line") << "\n" << KeysUsage;
    return 2;
  }
  const std::string path = Utf8ToCp936(args[1]);
  TSigningKey key;
  TPublicKey publicKey;
  std::string error;
  if (args[0] == "new") {
    // The public key is taken before the file is written, so that a run that
    // reports a failure has left no key behind.
    if (!key.Generate(error) || !key.PublicKey(publicKey, error) || !key.WriteNewFile(path, error)) {
      return Fail(err, error);
    }
  } else if (!key.ReadFile(path, error) || !key.PublicKey(publicKey, error)) {
    return Fail(err, error);
  }
  out << FormatPublicKeyText(publicKey) << "\n";
  return 0;
}

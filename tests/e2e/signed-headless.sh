#!/usr/bin/env bash
# The headless updater with --key: a release signed with that key installs
# (exit 0); the same release with one changed manifest byte is refused
# (exit 4, the refusal printed) and the folder stays as it was; a text that
# is not a key is a usage error (exit 2).
#   signed-headless.sh TOOLS_DIR UPDATE_ROOT PORT_BASE
set -u
tools="$1" root="$2" base="$3"
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
work="$(mktemp -d)"
release="signedheadless$$"
trap 'rm -rf "$work" "${root:?}/$release"' EXIT
export LAUNCHER_QUIET=1
update="$tools/launcher-update/launcher-update"
signer="$here/sign-document.py"
fail() { echo "FAIL: $*"; exit 1; }

mkdir -p "$work/release/data" "$work/install"
head -c 200000 /dev/urandom >"$work/release/Client.bin"
head -c 3000 /dev/urandom >"$work/release/data/table.dat"
"$tools/launcher-manifest/launcher-manifest" "$work/release" "$root/$release" >/dev/null || fail "launcher-manifest"
key="$(python3 "$signer" new "$work/release.pem")" || fail "no key"
python3 "$signer" sign "$work/release.pem" "$root/$release/update.json" update.json 7 +3600 || fail "signing"
url="http://127.0.0.1:$((base + 5))/$release"

"$update" --base "$url" --dir "$work/install" --key "$key" >"$work/good.log" 2>&1 ||
  { cat "$work/good.log"; fail "the signed release did not install"; }
for f in Client.bin data/table.dat; do
  cmp -s "$work/release/$f" "$work/install/$f" || fail "$f differs"
done
grep -q '^update.json=7' "$work/install/data/update0.versions" || fail "the accepted version was not kept"

# One byte of the served manifest changes under its signature.
python3 - "$root/$release/update.json" <<'PY'
import sys
path = sys.argv[1]
data = bytearray(open(path, "rb").read())
at = data.index(b'"Hash": "') + 9
data[at] = ord("0") if data[at] != ord("0") else ord("1")
open(path, "wb").write(bytes(data))
PY
before="$(cd "$work/install" && find . -type f ! -name UpdateLog.txt -exec md5sum {} + | sort)"
"$update" --base "$url" --dir "$work/install" --key "$key" >"$work/changed.log" 2>&1
status=$?
[ "$status" -eq 4 ] || { cat "$work/changed.log"; fail "exit code $status for a changed manifest, expected 4"; }
grep -q 'update.json 与签名不符，已拒绝更新' "$work/changed.log" || { cat "$work/changed.log"; fail "no refusal status"; }
grep -q 'refused the release: its signature check says Changed' "$work/changed.log" ||
  { cat "$work/changed.log"; fail "no reason printed"; }
after="$(cd "$work/install" && find . -type f ! -name UpdateLog.txt -exec md5sum {} + | sort)"
[ "$before" = "$after" ] || fail "the refused run changed the folder"

"$update" --base "$url" --dir "$work/install" --key "p256:nonsense" >"$work/usage.log" 2>&1
status=$?
[ "$status" -eq 2 ] || fail "exit code $status for a text that is not a key, expected 2"
echo "PASS: signed release installed; a changed manifest byte refused with exit 4 and nothing changed; a bad key is a usage error"

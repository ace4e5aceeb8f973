#!/usr/bin/env python3
"""launcher.exe of a Windows build, its package carrying a public key, under
Wine against the update server peer: a release signed with that key (by the
openssl command line, apart from the launcher's code) installs through the
system's CNG verifier, and the same release with one changed manifest byte
is refused with nothing installed, and so is one signed by another key
(CNG refuses the signature itself). Each check is one testcase in the
results file.

  signed_launcher_wine.py --build WIN32_BUILD --update-root WWW --port-base N --results FILE.xml
"""
import argparse
import hashlib
import os
import shutil
import subprocess
import sys
import time

sys.dont_write_bytecode = True  # no cache files in the source tree
HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(os.path.dirname(HERE), "ui-wine"))
import harness  # noqa: E402

SIGNER = os.path.join(HERE, "sign-document.py")
CLIENT_FILE = os.urandom(150000)


def signer(*args):
    return subprocess.run([sys.executable, SIGNER, *args], stdout=subprocess.PIPE, check=True).stdout.decode().strip()


class Context:
    def __init__(self, args):
        self.build = os.path.abspath(args.build)
        self.www = os.path.abspath(args.update_root)
        self.base = args.port_base
        self.work = harness.fresh_dir(os.path.join(self.build, "signed-wine"))
        self.wine = harness.Wine(os.path.join(self.build, "signed-wine-prefix"))
        self.exe = os.path.join(self.build, "launcher", "launcher.exe")
        self.pack_exe = os.path.join(self.build, "tools", "launcher-pack", "launcher-pack.exe")
        self.manifest_exe = os.path.join(self.build, "tools", "launcher-manifest", "launcher-manifest.exe")
        self.results = harness.Results("signed_launcher_wine")
        self.tag = "signedwine%d" % os.getpid()

    def path(self, *parts):
        return os.path.join(self.work, *parts)

    def url(self, path):
        return "http://127.0.0.1:%d/%s" % (self.base + 5, path)


def publish(ctx, files, target, name, key_pem, version):
    release = harness.fresh_dir(ctx.path("release-" + name))
    for rel, data in files.items():
        os.makedirs(os.path.dirname(os.path.join(release, rel)) or release, exist_ok=True)
        with open(os.path.join(release, rel), "wb") as f:
            f.write(data)
    out = os.path.join(ctx.www, target)
    ctx.wine.run([ctx.manifest_exe, harness.winpath(release), harness.winpath(out), "--name", name], timeout=300)
    signer("sign", key_pem, os.path.join(out, name), name, str(version), "+86400")
    return out


def pack(ctx, key_text):
    dead = "http://127.0.0.1:%d/" % (ctx.base + 9)
    fields = ["0", "0", "0", "12", "SignedTest", ctx.url(ctx.tag + "/client"), ctx.url(ctx.tag + "/launcher"),
              dead + "home/", dead + "register/", dead + "forum/", dead + "pay/", dead + "news/", dead + "forget/"]
    config = ctx.path("config.txt")
    with open(config, "w", encoding="utf-8") as f:
        f.write("\n".join(fields) + "\n")
    skin = ctx.path("skin")
    harness.run(["bash", os.path.join(harness.TOP, "demo", "make-skin.sh"), skin])
    out = ctx.path("signed.exe")
    ctx.wine.run([ctx.pack_exe, "pack", "--exe", harness.winpath(ctx.exe), "--config", harness.winpath(config),
                  "--skin", harness.winpath(skin), "--positions",
                  harness.winpath(os.path.join(harness.TOP, "demo", "positions.json")),
                  "-o", harness.winpath(out), "--public-key", key_text], timeout=120)
    return out


def run_launcher(ctx, name, exe, until, timeout=90):
    """Runs a copy of the packed launcher in a game folder of its own until
    `until(debug lines)` holds or the time is up; its folder and debug lines."""
    folder = harness.fresh_dir(ctx.path("cases", name))
    shutil.copyfile(exe, os.path.join(folder, "launcher.exe"))
    for marker in ("Korblib.dll", "d3dx9_43.dll"):
        with open(os.path.join(folder, marker), "wb") as f:
            f.write(b"x")
    os.makedirs(os.path.join(folder, "data"))
    log = os.path.join(folder, "wine.log")
    proc = ctx.wine.start([os.path.join(folder, "launcher.exe")], folder, log)
    try:
        harness.wait_for(lambda: until(harness.debug_lines(log)), timeout, step=0.5)
        # The run's own files are written when its thread object goes.
        time.sleep(2)
    finally:
        harness.Wine.stop(proc)
    return folder, harness.debug_lines(log)


def has(lines, text):
    return any(text in line for line in lines)


def md5(path):
    try:
        with open(path, "rb") as f:
            return hashlib.md5(f.read()).hexdigest()
    except OSError:
        return None


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--build", required=True)
    parser.add_argument("--update-root", required=True)
    parser.add_argument("--port-base", type=int, required=True)
    parser.add_argument("--results", required=True)
    args = parser.parse_args()
    ctx = Context(args)
    group = "SignedLauncher"
    try:
        ctx.wine.prepare(ctx.work)
        pem = ctx.path("release.pem")
        key_text = signer("new", pem)
        exe = pack(ctx, key_text)
        client = publish(ctx, {"data/signed.pak": CLIENT_FILE}, ctx.tag + "/client", "update.json", pem, 300)
        publish(ctx, {"readme.txt": b"signed launcher files\r\n"}, ctx.tag + "/launcher", "updateL.json", pem, 300)

        done = lambda lines: has(lines, "signature of updateL.json")  # noqa: E731
        folder, lines = run_launcher(ctx, "signed", exe, done)
        ctx.results.check(group, "ClientManifestAccepted", has(lines, "signature of update.json accepted: version 300"),
                          "debug output: %s" % [l for l in lines if "signature" in l])
        ctx.results.check(group, "LauncherManifestAccepted",
                          has(lines, "signature of updateL.json accepted: version 300"))
        ctx.results.check(group, "SignedReleaseInstalled",
                          md5(os.path.join(folder, "data", "signed.pak")) == hashlib.md5(CLIENT_FILE).hexdigest())
        ctx.results.check(group, "AcceptedVersionKept",
                          harness.read_log(os.path.join(folder, "data", "update0.versions")) == b"update.json=300\r\n",
                          repr(harness.read_log(os.path.join(folder, "data", "update0.versions"))))

        # One byte of the served manifest changes under its signature.
        manifest = os.path.join(client, "update.json")
        data = bytearray(harness.read_log(manifest))
        at = data.index(b'"Hash": "') + 9
        original = data[at]
        data[at] = ord("0") if data[at] != ord("0") else ord("1")
        with open(manifest, "wb") as f:
            f.write(bytes(data))
        folder, lines = run_launcher(ctx, "changed", exe, done)
        refusal = "#114 : update.json 与签名不符，已拒绝更新。"
        ctx.results.check(group, "ChangedManifestRefused", has(lines, "signature of update.json refused: Changed"),
                          "debug output: %s" % [l for l in lines if "signature" in l])
        ctx.results.check(group, "RefusalShownInChinese", has(lines, refusal))
        ctx.results.check(group, "NothingInstalledAfterTheRefusal",
                          os.path.isdir(os.path.join(folder, "data")) and
                          not os.path.exists(os.path.join(folder, "data", "signed.pak")) and
                          not os.path.exists(os.path.join(folder, "data", "update.json")) and
                          not os.path.exists(os.path.join(folder, "data", "update0.versions")))

        # The original manifest again, its signature made by another key.
        data[at] = original
        with open(manifest, "wb") as f:
            f.write(bytes(data))
        other = ctx.path("other.pem")
        signer("new", other)
        signer("sign", other, manifest, "update.json", "301", "+86400")
        folder, lines = run_launcher(ctx, "otherkey", exe, done)
        ctx.results.check(group, "OtherKeyRefused", has(lines, "signature of update.json refused: BadSignature"),
                          "debug output: %s" % [l for l in lines if "signature" in l])
        ctx.results.check(group, "NothingInstalledWithTheOtherKey",
                          not os.path.exists(os.path.join(folder, "data", "signed.pak")))
    except Exception as e:  # noqa: BLE001 - every failure becomes a failed check
        ctx.results.error(group, "SetUp", e)
    finally:
        ctx.wine.end_server()
        shutil.rmtree(os.path.join(ctx.www, ctx.tag), ignore_errors=True)
    ctx.results.write(args.results)
    return 1 if ctx.results.failed() else 0


if __name__ == "__main__":
    sys.exit(main())

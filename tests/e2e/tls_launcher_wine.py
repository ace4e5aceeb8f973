#!/usr/bin/env python3
"""launcher.exe of a Windows build under Wine, its package naming https
update URLs on the TLS peer (tests/peers/tlsserver.peer): with the test CA in
the prefix's Root store (trust-test-ca.exe) SChannel carries the whole run
and the release installs; a package naming the server whose certificate is
for another name shows the manifest's failure status line, logs the
refusal's reason and installs nothing; a later release that changes a few
bytes of a large pack updates it in place from its chunk index. Each check is
one testcase in the results file.

  tls_launcher_wine.py --build WIN32_BUILD --update-root WWW --ca PEM --port-base N --results FILE.xml
"""
import argparse
import hashlib
import os
import shutil
import sys
import time

sys.dont_write_bytecode = True  # no cache files in the source tree
HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(os.path.dirname(HERE), "ui-wine"))
import harness  # noqa: E402

CLIENT_FILE = os.urandom(1500000)
SMALL_FILE = os.urandom(20000)
# Large enough for launcher-manifest to publish a chunk index beside it; the
# next release changes 64 KiB of it.
PACK_FILE = os.urandom(6 << 20)
PACK_NEXT = PACK_FILE[:3 << 20] + os.urandom(64 << 10) + PACK_FILE[(3 << 20) + (64 << 10):]


class Context:
    def __init__(self, args):
        self.build = os.path.abspath(args.build)
        self.www = os.path.abspath(args.update_root)
        self.ca = os.path.abspath(args.ca)
        self.base = args.port_base
        self.work = harness.fresh_dir(os.path.join(self.build, "tls-wine"))
        self.wine = harness.Wine(os.path.join(self.build, "tls-wine-prefix"))
        self.exe = os.path.join(self.build, "launcher", "launcher.exe")
        self.pack_exe = os.path.join(self.build, "tools", "launcher-pack", "launcher-pack.exe")
        self.manifest_exe = os.path.join(self.build, "tools", "launcher-manifest", "launcher-manifest.exe")
        self.trust_exe = os.path.join(self.build, "tests", "trust-test-ca.exe")
        self.results = harness.Results("tls_launcher_wine")
        self.tag = "tlswine%d" % os.getpid()

    def path(self, *parts):
        return os.path.join(self.work, *parts)

    def url(self, offset, path):
        return "https://localhost:%d/%s" % (self.base + offset, path)


def publish(ctx, files, target, name):
    release = harness.fresh_dir(ctx.path("release-" + name))
    for rel, data in files.items():
        os.makedirs(os.path.dirname(os.path.join(release, rel)) or release, exist_ok=True)
        with open(os.path.join(release, rel), "wb") as f:
            f.write(data)
    out = os.path.join(ctx.www, target)
    ctx.wine.run([ctx.manifest_exe, harness.winpath(release), harness.winpath(out), "--name", name], timeout=300)


def pack(ctx, name, offset):
    dead = "http://127.0.0.1:%d/" % (ctx.base + 9)
    fields = ["0", "0", "0", "12", "TlsTest", ctx.url(offset, ctx.tag + "/client"),
              ctx.url(offset, ctx.tag + "/launcher"),
              dead + "home/", dead + "register/", dead + "forum/", dead + "pay/", dead + "news/", dead + "forget/"]
    config = ctx.path("config-%s.txt" % name)
    with open(config, "w", encoding="utf-8") as f:
        f.write("\n".join(fields) + "\n")
    skin = ctx.path("skin")
    if not os.path.isdir(skin):
        harness.run(["bash", os.path.join(harness.TOP, "demo", "make-skin.sh"), skin])
    out = ctx.path("%s.exe" % name)
    ctx.wine.run([ctx.pack_exe, "pack", "--exe", harness.winpath(ctx.exe), "--config", harness.winpath(config),
                  "--skin", harness.winpath(skin), "--positions",
                  harness.winpath(os.path.join(harness.TOP, "demo", "positions.json")),
                  "-o", harness.winpath(out)], timeout=120)
    return out


def run_launcher(ctx, name, exe, until, timeout=120, again=False):
    """Runs a copy of the packed launcher in a game folder of its own (the
    one of the last run of `name` when `again`) until `until(debug lines)`
    holds or the time is up; its folder and debug lines."""
    folder = ctx.path("cases", name)
    if not again:
        harness.fresh_dir(folder)
        shutil.copyfile(exe, os.path.join(folder, "launcher.exe"))
        for marker in ("Korblib.dll", "d3dx9_43.dll"):
            with open(os.path.join(folder, marker), "wb") as f:
                f.write(b"x")
        os.makedirs(os.path.join(folder, "data"))
    log = os.path.join(folder, "wine.log")
    if os.path.exists(log):
        os.remove(log)
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
    parser.add_argument("--ca", required=True)
    parser.add_argument("--port-base", type=int, required=True)
    parser.add_argument("--results", required=True)
    args = parser.parse_args()
    ctx = Context(args)
    group = "TlsLauncher"
    try:
        ctx.wine.prepare(ctx.work)
        ctx.wine.run([ctx.trust_exe, harness.winpath(ctx.ca)], timeout=120)
        client = {"data/tls.pak": CLIENT_FILE, "data/small.txt": SMALL_FILE, "data/big.pak": PACK_FILE}
        publish(ctx, client, ctx.tag + "/client", "update.json")
        publish(ctx, {"readme.txt": b"launcher files over https\r\n"}, ctx.tag + "/launcher", "updateL.json")

        good = pack(ctx, "good", 40)
        installed = lambda folder: md5(os.path.join(folder, "data", "tls.pak")) == hashlib.md5(CLIENT_FILE).hexdigest()  # noqa: E731
        # The run is done when its file is there, in the folder run_launcher makes.
        done = lambda lines: installed(ctx.path("cases", "good"))  # noqa: E731
        folder, lines = run_launcher(ctx, "good", good, done)
        ctx.results.check(group, "ReleaseInstalledOverHttps", installed(folder),
                          "debug output: %s" % lines[-20:])
        ctx.results.check(group, "SmallFileInstalledOverHttps",
                          md5(os.path.join(folder, "data", "small.txt")) == hashlib.md5(SMALL_FILE).hexdigest())
        ctx.results.check(group, "NoCertificateRefused", not has(lines, "certificate refused"))

        # The next release: the pack is rebuilt from the installed copy and
        # the changed chunks, fetched as byte ranges over SChannel.
        client["data/big.pak"] = PACK_NEXT
        publish(ctx, client, ctx.tag + "/client", "update.json")
        pack_path = os.path.join(ctx.path("cases", "good"), "data", "big.pak")
        updated = lambda lines: md5(pack_path) == hashlib.md5(PACK_NEXT).hexdigest()  # noqa: E731
        folder, lines = run_launcher(ctx, "good", good, updated, again=True)
        ctx.results.check(group, "ChangedPackUpdatedFromItsChunks", updated(lines), "debug output: %s" % lines[-20:])
        reused = [l for l in lines if "big.pak: " in l and "bytes reused" in l]
        ctx.results.check(group, "OnlyTheChangedChunksTravelled",
                          reused and int(reused[0].split(" fetched")[0].split()[-1]) < (1 << 20),
                          "debug output: %s" % [l for l in lines if "big.pak" in l])

        wrong = pack(ctx, "wrongname", 41)
        refused = lambda lines: has(lines, "#100 : 下载配置文件失败，请检查网络。")  # noqa: E731
        folder, lines = run_launcher(ctx, "wrongname", wrong, refused)
        ctx.results.check(group, "WrongNameShowsTheManifestFailure", refused(lines),
                          "debug output: %s" % lines[-20:])
        ctx.results.check(group, "WrongNameLoggedWithItsReason",
                          has(lines, "certificate refused (name mismatch) for host localhost"),
                          "debug output: %s" % [l for l in lines if "certificate" in l])
        ctx.results.check(group, "NothingInstalledFromTheWrongName",
                          not os.path.exists(os.path.join(folder, "data", "tls.pak")) and
                          not os.path.exists(os.path.join(folder, "data", "update.json")))
    except Exception as e:  # noqa: BLE001 - every failure becomes a failed check
        ctx.results.error(group, "SetUp", e)
    finally:
        ctx.wine.end_server()
        shutil.rmtree(os.path.join(ctx.www, ctx.tag), ignore_errors=True)
    ctx.results.write(args.results)
    return 1 if ctx.results.failed() else 0


if __name__ == "__main__":
    sys.exit(main())

#!/usr/bin/env python3
"""launcher.exe and the tools of a Windows build under Wine against the
peers, each case in a Wine prefix of its own (CASES; --cases picks them):

- signed: launcher.exe, its package carrying a public key: a release signed
  with that key (by the openssl command line, apart from the launcher's
  code) installs through the system's CNG verifier; the same release with
  one changed manifest byte is refused with nothing installed, and so is one
  signed by another key (CNG refuses the signature itself).
- tls: launcher.exe, its package naming https update URLs on the TLS peer
  (tests/peers/tlsserver.peer): with the test CA in the prefix's Root store
  (trust-test-ca.exe) SChannel carries the whole run and the release
  installs; a package naming the server whose certificate is for another
  name shows the manifest's failure status line, logs the refusal's reason
  and installs nothing; a later release that changes a few bytes of a large
  pack updates it in place from its chunk index.
- paths: the install folder as players and operators make it. Device
  names: a manifest naming "com1.bin", "lpt1.pak", "aux.txt", "nul" and
  "data\\con.dat" (the files served beside it), with COM1 and LPT1 of the
  prefix mapped to files outside the install folder
  (HKLM\\Software\\Wine\\Ports): launcher-update.exe refuses those entries,
  exits 3 listing them, installs the rest, and the two mapped files stay as
  they were. A Chinese install folder, "奎兰 微端", under code page 936
  (LANG zh_CN.UTF-8) and under code page 1252 (en_US.UTF-8), where the
  narrow code page cannot spell it: launcher-manifest.exe publishes a
  release from such a folder, launcher-update.exe takes one as --dir, and
  launcher.exe started from one updates it and runs on.

Each check is one testcase in the results file; its suite is named after
the file.

  launcher_wine.py --cases signed,tls,paths --build WIN32_BUILD --update-root WWW --ca PEM --port-base N
                   --results FILE.xml
"""
import argparse
import hashlib
import json
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
CHINESE_FOLDER = "奎兰 微端"
DEVICE_NAMES = ["com1.bin", "lpt1.pak", "aux.txt", "nul", "data\\con.dat"]
PORT_TEXT = b"the port's own file\n"
CODE_PAGES = {"936": "zh_CN.UTF-8", "1252": "en_US.UTF-8"}
MANIFEST_FAILED = "#100 : 下载配置文件失败，请检查网络。"


class Context:
    def __init__(self, args, case):
        self.build = os.path.abspath(args.build)
        self.www = os.path.abspath(args.update_root)
        self.base = args.port_base
        self.ca = os.path.abspath(args.ca) if args.ca else None
        self.work = harness.fresh_dir(os.path.join(self.build, "%s-wine" % case))
        self.prefix = os.path.join(self.build, "%s-wine-prefix" % case)
        self.wine = harness.Wine(self.prefix)
        self.exe = os.path.join(self.build, "launcher", "launcher.exe")
        tools = os.path.join(self.build, "tools")
        self.pack_exe = os.path.join(tools, "launcher-pack", "launcher-pack.exe")
        self.manifest_exe = os.path.join(tools, "launcher-manifest", "launcher-manifest.exe")
        self.update_exe = os.path.join(tools, "launcher-update", "launcher-update.exe")
        self.probe_exe = os.path.join(self.build, "tests", "ui-wine", "ui-probe.exe")
        self.trust_exe = os.path.join(self.build, "tests", "trust-test-ca.exe")
        self.tag = "%swine%d" % (case, os.getpid())

    def path(self, *parts):
        return os.path.join(self.work, *parts)

    def url(self, path, offset=5):
        """The update server (+5) over http; the TLS peer's servers over https."""
        if offset == 5:
            return "http://127.0.0.1:%d/%s" % (self.base + offset, path)
        return "https://localhost:%d/%s" % (self.base + offset, path)

    def wine_for(self, code_page):
        """The prefix's Wine with the ANSI code page of a locale: Wine takes
        it from LANG (and LC_ALL, which outranks it)."""
        wine = harness.Wine(self.prefix)
        wine.env["LANG"] = CODE_PAGES[code_page]
        wine.env["LC_ALL"] = CODE_PAGES[code_page]
        return wine


# ---------------------------------------------------------------- helpers

def md5(data):
    return hashlib.md5(data).hexdigest()


def file_md5(path):
    try:
        with open(path, "rb") as f:
            return md5(f.read())
    except OSError:
        return None


def write(path, data):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(data)


def has(lines, text):
    return any(text in line for line in lines)


def signer(*args):
    return subprocess.run([sys.executable, SIGNER, *args], stdout=subprocess.PIPE, check=True).stdout.decode().strip()


def publish(ctx, files, target, name, wine=None, below=()):
    """A release made by launcher-manifest.exe from a folder below
    ctx.path(*below); its exit code and error output."""
    release = harness.fresh_dir(ctx.path(*below, "release-" + target.replace("/", "-")))
    for rel, data in files.items():
        write(os.path.join(release, rel), data)
    out = os.path.join(ctx.www, target)
    result = (wine or ctx.wine).run([ctx.manifest_exe, harness.winpath(release), harness.winpath(out), "--name", name],
                                    timeout=300, check=False)
    return result.returncode, result.stderr.decode("utf-8", errors="replace")


def published(ctx, files, target, name):
    """publish() that must succeed; the release's folder on the server."""
    code, err = publish(ctx, files, target, name)
    if code != 0:
        raise RuntimeError("launcher-manifest.exe failed (%d): %s" % (code, err[-800:]))
    return os.path.join(ctx.www, target)


def pack(ctx, name, client_url, launcher_url, key_text=None):
    """launcher.exe packed with these update URLs (and a public key)."""
    dead = "http://127.0.0.1:%d/" % (ctx.base + 9)
    fields = ["0", "0", "0", "12", "WineTest", client_url, launcher_url,
              dead + "home/", dead + "register/", dead + "forum/", dead + "pay/", dead + "news/", dead + "forget/"]
    config = ctx.path("config-%s.txt" % name)
    with open(config, "w", encoding="utf-8") as f:
        f.write("\n".join(fields) + "\n")
    skin = ctx.path("skin")
    if not os.path.isdir(skin):
        harness.run(["bash", os.path.join(harness.TOP, "demo", "make-skin.sh"), skin])
    out = ctx.path("%s.exe" % name)
    args = [ctx.pack_exe, "pack", "--exe", harness.winpath(ctx.exe), "--config", harness.winpath(config),
            "--skin", harness.winpath(skin), "--positions",
            harness.winpath(os.path.join(harness.TOP, "demo", "positions.json")), "-o", harness.winpath(out)]
    if key_text:
        args += ["--public-key", key_text]
    ctx.wine.run(args, timeout=120)
    return out


def game_folder(folder, exe):
    """A fresh game folder holding a copy of the packed launcher and the
    files that mark a game folder."""
    harness.fresh_dir(folder)
    shutil.copyfile(exe, os.path.join(folder, "launcher.exe"))
    for marker in ("Korblib.dll", "d3dx9_43.dll"):
        write(os.path.join(folder, marker), b"x")
    os.makedirs(os.path.join(folder, "data"), exist_ok=True)
    return folder


def run_launcher(ctx, name, exe, until, timeout=120, again=False):
    """Runs a copy of the packed launcher in a game folder of its own (the
    one of the last run of `name` when `again`) until `until(debug lines)`
    holds or the time is up; its folder and debug lines."""
    folder = ctx.path("cases", name)
    if not again:
        game_folder(folder, exe)
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


def update(ctx, wine, folder, base_url):
    """launcher-update.exe on a folder; its exit code and output (UTF-8)."""
    result = wine.run([ctx.update_exe, "--base", base_url, "--dir", harness.winpath(folder)], timeout=300,
                      check=False)
    return result.returncode, result.stdout.decode("utf-8", errors="replace")


# ---------------------------------------------------------------- signed

def check_signed(ctx, results):
    group = "SignedLauncher"
    client_file = os.urandom(150000)
    pem = ctx.path("release.pem")
    key_text = signer("new", pem)
    exe = pack(ctx, "signed", ctx.url(ctx.tag + "/client"), ctx.url(ctx.tag + "/launcher"), key_text)
    client = published(ctx, {"data/signed.pak": client_file}, ctx.tag + "/client", "update.json")
    signer("sign", pem, os.path.join(client, "update.json"), "update.json", "300", "+86400")
    launcher = published(ctx, {"readme.txt": b"signed launcher files\r\n"}, ctx.tag + "/launcher", "updateL.json")
    signer("sign", pem, os.path.join(launcher, "updateL.json"), "updateL.json", "300", "+86400")

    done = lambda lines: has(lines, "signature of updateL.json")  # noqa: E731
    folder, lines = run_launcher(ctx, "signed", exe, done, timeout=90)
    results.check(group, "ClientManifestAccepted", has(lines, "signature of update.json accepted: version 300"),
                  "debug output: %s" % [l for l in lines if "signature" in l])
    results.check(group, "LauncherManifestAccepted", has(lines, "signature of updateL.json accepted: version 300"))
    results.check(group, "SignedReleaseInstalled",
                  file_md5(os.path.join(folder, "data", "signed.pak")) == md5(client_file))
    versions = harness.read_log(os.path.join(folder, "data", "update0.versions"))
    results.check(group, "AcceptedVersionKept", versions == b"update.json=300\r\n", repr(versions))

    # One byte of the served manifest changes under its signature.
    manifest = os.path.join(client, "update.json")
    data = bytearray(harness.read_log(manifest))
    at = data.index(b'"Hash": "') + 9
    original = data[at]
    data[at] = ord("0") if data[at] != ord("0") else ord("1")
    write(manifest, bytes(data))
    folder, lines = run_launcher(ctx, "changed", exe, done, timeout=90)
    results.check(group, "ChangedManifestRefused", has(lines, "signature of update.json refused: Changed"),
                  "debug output: %s" % [l for l in lines if "signature" in l])
    results.check(group, "RefusalShownInChinese", has(lines, "#114 : update.json 与签名不符，已拒绝更新。"))
    results.check(group, "NothingInstalledAfterTheRefusal",
                  os.path.isdir(os.path.join(folder, "data")) and
                  not any(os.path.exists(os.path.join(folder, "data", name))
                          for name in ("signed.pak", "update.json", "update0.versions")))

    # The original manifest again, its signature made by another key.
    data[at] = original
    write(manifest, bytes(data))
    other = ctx.path("other.pem")
    signer("new", other)
    signer("sign", other, manifest, "update.json", "301", "+86400")
    folder, lines = run_launcher(ctx, "otherkey", exe, done, timeout=90)
    results.check(group, "OtherKeyRefused", has(lines, "signature of update.json refused: BadSignature"),
                  "debug output: %s" % [l for l in lines if "signature" in l])
    results.check(group, "NothingInstalledWithTheOtherKey",
                  not os.path.exists(os.path.join(folder, "data", "signed.pak")))


# ---------------------------------------------------------------- tls

def check_tls(ctx, results):
    group = "TlsLauncher"
    client_file, small_file = os.urandom(1500000), os.urandom(20000)
    # Large enough for launcher-manifest to publish a chunk index beside it;
    # the next release changes 64 KiB of it.
    pack_file = os.urandom(6 << 20)
    pack_next = pack_file[:3 << 20] + os.urandom(64 << 10) + pack_file[(3 << 20) + (64 << 10):]
    ctx.wine.run([ctx.trust_exe, harness.winpath(ctx.ca)], timeout=120)
    client = {"data/tls.pak": client_file, "data/small.txt": small_file, "data/big.pak": pack_file}
    published(ctx, client, ctx.tag + "/client", "update.json")
    published(ctx, {"readme.txt": b"launcher files over https\r\n"}, ctx.tag + "/launcher", "updateL.json")

    good = pack(ctx, "good", ctx.url(ctx.tag + "/client", 40), ctx.url(ctx.tag + "/launcher", 40))
    installed = lambda folder: file_md5(os.path.join(folder, "data", "tls.pak")) == md5(client_file)  # noqa: E731
    # The run is done when its file is there, in the folder run_launcher makes.
    done = lambda lines: installed(ctx.path("cases", "good"))  # noqa: E731
    folder, lines = run_launcher(ctx, "good", good, done)
    results.check(group, "ReleaseInstalledOverHttps", installed(folder), "debug output: %s" % lines[-20:])
    results.check(group, "SmallFileInstalledOverHttps",
                  file_md5(os.path.join(folder, "data", "small.txt")) == md5(small_file))
    results.check(group, "NoCertificateRefused", not has(lines, "certificate refused"))

    # The next release: the pack is rebuilt from the installed copy and the
    # changed chunks, fetched as byte ranges over SChannel.
    client["data/big.pak"] = pack_next
    published(ctx, client, ctx.tag + "/client", "update.json")
    pack_path = os.path.join(ctx.path("cases", "good"), "data", "big.pak")
    updated = lambda lines: file_md5(pack_path) == md5(pack_next)  # noqa: E731
    folder, lines = run_launcher(ctx, "good", good, updated, again=True)
    results.check(group, "ChangedPackUpdatedFromItsChunks", updated(lines), "debug output: %s" % lines[-20:])
    reused = [l for l in lines if "big.pak: " in l and "bytes reused" in l]
    results.check(group, "OnlyTheChangedChunksTravelled",
                  reused and int(reused[0].split(" fetched")[0].split()[-1]) < (1 << 20),
                  "debug output: %s" % [l for l in lines if "big.pak" in l])

    wrong = pack(ctx, "wrongname", ctx.url(ctx.tag + "/client", 41), ctx.url(ctx.tag + "/launcher", 41))
    refused = lambda lines: has(lines, MANIFEST_FAILED)  # noqa: E731
    folder, lines = run_launcher(ctx, "wrongname", wrong, refused)
    results.check(group, "WrongNameShowsTheManifestFailure", refused(lines), "debug output: %s" % lines[-20:])
    results.check(group, "WrongNameLoggedWithItsReason",
                  has(lines, "certificate refused (name mismatch) for host localhost"),
                  "debug output: %s" % [l for l in lines if "certificate" in l])
    results.check(group, "NothingInstalledFromTheWrongName",
                  not os.path.exists(os.path.join(folder, "data", "tls.pak")) and
                  not os.path.exists(os.path.join(folder, "data", "update.json")))


# ---------------------------------------------------------------- paths

def map_ports(ctx):
    """COM1 and LPT1 of the prefix become files outside every install folder;
    the prefix's services make the mapping when they start again."""
    targets = {name: ctx.path("ports", name.lower() + "-target") for name in ("COM1", "LPT1")}
    lines = ["Windows Registry Editor Version 5.00", "", "[HKEY_LOCAL_MACHINE\\Software\\Wine\\Ports]"]
    for name, target in targets.items():
        write(target, PORT_TEXT)
        lines.append('"%s"="%s"' % (name, target))
    reg = ctx.path("ports.reg")
    with open(reg, "wb") as f:
        f.write(("\r\n".join(lines) + "\r\n").encode("utf-16"))
    ctx.wine.run(["regedit", "/S", harness.winpath(reg)], timeout=180)
    ctx.wine.end_server()
    ctx.wine.keep_server()
    # The prefix's own view of the ports, once its services made it.
    devices = os.path.join(ctx.prefix, "dosdevices")
    ctx.wine.run(["cmd", "/c", "exit"], timeout=120)
    harness.wait_for(lambda: all(os.path.realpath(os.path.join(devices, n.lower())) == os.path.realpath(t)
                                 for n, t in targets.items()), 30)
    return targets, devices


def check_device_names(ctx, results):
    group = "DeviceNames"
    targets, devices = map_ports(ctx)
    results.check(group, "PortsMappedToFiles",
                  all(os.path.realpath(os.path.join(devices, n.lower())) == os.path.realpath(t)
                      for n, t in targets.items()), "dosdevices: %s" % sorted(os.listdir(devices)))
    served = os.path.join(ctx.www, ctx.tag, "devices")
    good = os.urandom(20000)
    entries = [{"File": "good.bin", "isLauncher": 0, "Need": True, "Hash": md5(good), "Size": len(good),
                "IsZip": False}]
    write(os.path.join(served, "good.bin"), good)
    for name in DEVICE_NAMES:
        data = b"game data for %s\n" % name.encode()
        write(os.path.join(served, name.replace("\\", "/")), data)
        entries.append({"File": name, "isLauncher": 0, "Need": True, "Hash": md5(data), "Size": len(data),
                        "IsZip": False})
    write(os.path.join(served, "update.json"), json.dumps(entries, indent=1).encode())
    folder = harness.fresh_dir(ctx.path("devices-install"))
    code, out = update(ctx, ctx.wine, folder, ctx.url(ctx.tag + "/devices"))
    results.check(group, "ExitCodeSaysFilesStillWrong", code == 3, "exit %d" % code if code == 3 else out)
    listed = all(("  %s (refused)" % name) in out for name in DEVICE_NAMES)
    results.check(group, "RefusedEntriesListed", listed, "" if listed else out)
    results.check(group, "OtherFilesInstalled", file_md5(os.path.join(folder, "good.bin")) == md5(good))
    for name, target in targets.items():
        with open(target, "rb") as f:
            kept = f.read()
        results.check(group, name + "TargetIntact", kept == PORT_TEXT, repr(kept[:80]))
    log = harness.read_log(os.path.join(folder, "UpdateLog.txt")).decode("gbk", errors="replace")
    logged = all(("unsafe file name rejected: " + name) in log for name in DEVICE_NAMES)
    results.check(group, "EachRefusalLogged", logged, "" if logged else log[-800:])


def ansi_code_page(ctx, wine):
    """The ANSI code page Wine gives a program under this environment."""
    out = wine.run([ctx.probe_exe, "acp"], timeout=120, check=False).stdout
    return out.decode("latin-1").strip()


def check_chinese_folder(ctx, results, code_page):
    group = "ChineseFolder%s" % code_page
    client_url = ctx.url("%s/client%s" % (ctx.tag, code_page))
    exe = pack(ctx, "packed-%s" % code_page, client_url, ctx.url("%s/launcher%s" % (ctx.tag, code_page)))
    wine = ctx.wine_for(code_page)
    said = ansi_code_page(ctx, wine)
    results.check(group, "AnsiCodePage", said == code_page, "GetACP() says %s" % said)
    client_files = {"资料/地图.dat": os.urandom(150000), "Client.bin": os.urandom(3000)}
    code, err = publish(ctx, client_files, "%s/client%s" % (ctx.tag, code_page), "update.json", wine,
                        (CHINESE_FOLDER,))
    results.check(group, "ManifestToolReadsTheFolder", code == 0, err[-400:])
    code, err = publish(ctx, {"readme.txt": b"launcher files\r\n"}, "%s/launcher%s" % (ctx.tag, code_page),
                        "updateL.json", wine, (CHINESE_FOLDER,))
    results.check(group, "ManifestToolReadsTheFolderForTheLauncherRun", code == 0, err[-400:])
    manifest = harness.read_log(os.path.join(ctx.www, ctx.tag, "client" + code_page, "update.json"))
    names = [e.get("File") for e in json.loads(manifest)] if manifest else []
    results.check(group, "ChineseNameInTheManifest", "资料\\地图.dat" in names, repr(names))

    # The headless updater with the folder as --dir.
    folder = harness.fresh_dir(ctx.path(CHINESE_FOLDER, "update-" + code_page))
    code, out = update(ctx, wine, folder, client_url)
    results.check(group, "UpdateToolTakesTheFolder", code == 0, "" if code == 0 else "exit %d: %s" % (code, out))
    results.check(group, "UpdateToolInstalledTheFiles",
                  all(file_md5(os.path.join(folder, rel)) == md5(data) for rel, data in client_files.items()))

    # launcher.exe started from the folder: both update runs end and the
    # program runs on.
    home = game_folder(ctx.path(CHINESE_FOLDER, "launcher-" + code_page), exe)
    proc = wine.start([os.path.join(home, "launcher.exe")], home, ctx.path("launcher-%s.log" % code_page))
    try:
        installed = harness.wait_for(
            lambda: all(file_md5(os.path.join(home, rel)) == md5(data) for rel, data in client_files.items()) and
            os.path.exists(os.path.join(home, "readme.txt")), 120, step=0.5)
        results.check(group, "LauncherUpdatedItsFolder", bool(installed), "files: %s" % sorted(os.listdir(home)))
        both = harness.wait_for(lambda: os.path.exists(os.path.join(home, "data", "update1.local")), 60, step=0.5)
        time.sleep(1)
        results.check(group, "LauncherRunsOn", bool(both) and proc.poll() is None, "exit code %s" % proc.poll())
    finally:
        harness.Wine.stop(proc)


# ---------------------------------------------------------------- cases

# Each case: the checks it runs, in order, as (group an error is reported
# under, function). A check that raises fails as "<group>.SetUp" and the
# case goes on with the next one.
CASES = {
    "signed": [("SignedLauncher", check_signed)],
    "tls": [("TlsLauncher", check_tls)],
    "paths": [("DeviceNames", check_device_names)] +
             [("ChineseFolder" + cp, lambda ctx, results, cp=cp: check_chinese_folder(ctx, results, cp))
              for cp in CODE_PAGES],
}


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--cases", required=True, help="comma-separated: " + ", ".join(CASES))
    parser.add_argument("--build", required=True)
    parser.add_argument("--update-root", required=True)
    parser.add_argument("--ca", help="the TLS peer's CA (the tls case)")
    parser.add_argument("--port-base", type=int, required=True)
    parser.add_argument("--results", required=True)
    args = parser.parse_args()
    results = harness.Results(os.path.splitext(os.path.basename(args.results))[0])
    for case in args.cases.split(","):
        ctx = Context(args, case)
        try:
            ctx.wine.prepare(ctx.work)
            for group, check in CASES[case]:
                try:
                    check(ctx, results)
                except Exception as e:  # noqa: BLE001 - every failure becomes a failed check
                    results.error(group, "SetUp", e)
        finally:
            ctx.wine.end_server()
            shutil.rmtree(os.path.join(ctx.www, ctx.tag), ignore_errors=True)
    results.write(args.results)
    return 1 if results.failed() else 0


if __name__ == "__main__":
    sys.exit(main())

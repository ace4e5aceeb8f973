#!/usr/bin/env python3
"""The Windows build's install folder under Wine, as players and operators
make it, in a prefix of its own:

- Device names: a manifest naming "com1.bin", "lpt1.pak", "aux.txt", "nul"
  and "data\\con.dat" (the files served beside it), with COM1 and LPT1 of
  the prefix mapped to files outside the install folder
  (HKLM\\Software\\Wine\\Ports): launcher-update.exe refuses those entries,
  exits 3 listing them, installs the rest, and the two mapped files stay
  as they were.
- A Chinese install folder, "奎兰 微端", under code page 936 (LANG
  zh_CN.UTF-8) and under code page 1252 (en_US.UTF-8), where the narrow
  code page cannot spell it: launcher-manifest.exe publishes a release from
  such a folder, launcher-update.exe takes one as --dir, and launcher.exe
  started from one updates it and runs on.

Each check is one testcase in the results file.

  paths_wine.py --build WIN32_BUILD --update-root WWW --port-base N --results FILE.xml
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

CHINESE_FOLDER = "奎兰 微端"
DEVICE_NAMES = ["com1.bin", "lpt1.pak", "aux.txt", "nul", "data\\con.dat"]
PORT_TEXT = b"the port's own file\n"
CODE_PAGES = {"936": "zh_CN.UTF-8", "1252": "en_US.UTF-8"}


class Context:
    def __init__(self, args):
        self.build = os.path.abspath(args.build)
        self.www = os.path.abspath(args.update_root)
        self.base = args.port_base
        self.work = harness.fresh_dir(os.path.join(self.build, "paths-wine"))
        self.prefix = os.path.join(self.build, "paths-wine-prefix")
        self.wine = harness.Wine(self.prefix)
        self.exe = os.path.join(self.build, "launcher", "launcher.exe")
        self.pack_exe = os.path.join(self.build, "tools", "launcher-pack", "launcher-pack.exe")
        self.manifest_exe = os.path.join(self.build, "tools", "launcher-manifest", "launcher-manifest.exe")
        self.update_exe = os.path.join(self.build, "tools", "launcher-update", "launcher-update.exe")
        self.probe_exe = os.path.join(self.build, "tests", "ui-wine", "ui-probe.exe")
        self.results = harness.Results("paths_wine")
        self.tag = "pathswine%d" % os.getpid()

    def path(self, *parts):
        return os.path.join(self.work, *parts)

    def url(self, path):
        return "http://127.0.0.1:%d/%s" % (self.base + 5, path)

    def wine_for(self, code_page):
        """The prefix's Wine with the ANSI code page of a locale: Wine takes
        it from LANG (and LC_ALL, which outranks it)."""
        wine = harness.Wine(self.prefix)
        wine.env["LANG"] = CODE_PAGES[code_page]
        wine.env["LC_ALL"] = CODE_PAGES[code_page]
        return wine


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


def update(ctx, wine, folder, base_url):
    """launcher-update.exe on a folder; its exit code and output (UTF-8)."""
    result = wine.run([ctx.update_exe, "--base", base_url, "--dir", harness.winpath(folder)], timeout=300,
                      check=False)
    return result.returncode, result.stdout.decode("utf-8", errors="replace")


def check_device_names(ctx):
    group = "DeviceNames"
    targets, devices = map_ports(ctx)
    ctx.results.check(group, "PortsMappedToFiles",
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
    ctx.results.check(group, "ExitCodeSaysFilesStillWrong", code == 3, "exit %d" % code if code == 3 else out)
    listed = all(("  %s (refused)" % name) in out for name in DEVICE_NAMES)
    ctx.results.check(group, "RefusedEntriesListed", listed, "" if listed else out)
    ctx.results.check(group, "OtherFilesInstalled", file_md5(os.path.join(folder, "good.bin")) == md5(good))
    for name, target in targets.items():
        with open(target, "rb") as f:
            kept = f.read()
        ctx.results.check(group, name + "TargetIntact", kept == PORT_TEXT, repr(kept[:80]))
    log = harness.read_log(os.path.join(folder, "UpdateLog.txt")).decode("gbk", errors="replace")
    logged = all(("unsafe file name rejected: " + name) in log for name in DEVICE_NAMES)
    ctx.results.check(group, "EachRefusalLogged", logged, "" if logged else log[-800:])


def make_skin(ctx):
    skin = ctx.path("skin")
    harness.run(["bash", os.path.join(harness.TOP, "demo", "make-skin.sh"), skin])
    return skin


def pack(ctx, skin, code_page):
    """launcher.exe packed with the update URLs of one code page's releases."""
    dead = "http://127.0.0.1:%d/" % (ctx.base + 9)
    fields = ["0", "0", "0", "12", "PathsTest", ctx.url("%s/client%s" % (ctx.tag, code_page)),
              ctx.url("%s/launcher%s" % (ctx.tag, code_page)),
              dead + "home/", dead + "register/", dead + "forum/", dead + "pay/", dead + "news/", dead + "forget/"]
    config = ctx.path("config-%s.txt" % code_page)
    with open(config, "w", encoding="utf-8") as f:
        f.write("\n".join(fields) + "\n")
    out = ctx.path("packed-%s.exe" % code_page)
    ctx.wine.run([ctx.pack_exe, "pack", "--exe", harness.winpath(ctx.exe), "--config", harness.winpath(config),
                  "--skin", harness.winpath(skin), "--positions",
                  harness.winpath(os.path.join(harness.TOP, "demo", "positions.json")),
                  "-o", harness.winpath(out)], timeout=120)
    return out


def publish(ctx, wine, files, target, name):
    """A release made from a folder below the Chinese folder by
    launcher-manifest.exe; its exit code."""
    release = harness.fresh_dir(ctx.path(CHINESE_FOLDER, "release-" + target.replace("/", "-")))
    for rel, data in files.items():
        write(os.path.join(release, rel), data)
    out = os.path.join(ctx.www, target)
    result = wine.run([ctx.manifest_exe, harness.winpath(release), harness.winpath(out), "--name", name],
                      timeout=300, check=False)
    return result.returncode, result.stderr.decode("utf-8", errors="replace")


def ansi_code_page(ctx, wine):
    """The ANSI code page Wine gives a program under this environment."""
    out = wine.run([ctx.probe_exe, "acp"], timeout=120, check=False).stdout
    return out.decode("latin-1").strip()


def check_chinese_folder(ctx, exe, code_page):
    group = "ChineseFolder%s" % code_page
    wine = ctx.wine_for(code_page)
    said = ansi_code_page(ctx, wine)
    ctx.results.check(group, "AnsiCodePage", said == code_page, "GetACP() says %s" % said)
    client_files = {"资料/地图.dat": os.urandom(150000), "Client.bin": os.urandom(3000)}
    code, err = publish(ctx, wine, client_files, "%s/client%s" % (ctx.tag, code_page), "update.json")
    ctx.results.check(group, "ManifestToolReadsTheFolder", code == 0, err[-400:])
    code, err = publish(ctx, wine, {"readme.txt": b"launcher files\r\n"}, "%s/launcher%s" % (ctx.tag, code_page),
                        "updateL.json")
    ctx.results.check(group, "ManifestToolReadsTheFolderForTheLauncherRun", code == 0, err[-400:])
    manifest = harness.read_log(os.path.join(ctx.www, ctx.tag, "client" + code_page, "update.json"))
    names = [e.get("File") for e in json.loads(manifest)] if manifest else []
    ctx.results.check(group, "ChineseNameInTheManifest", "资料\\地图.dat" in names, repr(names))

    # The headless updater with the folder as --dir.
    folder = harness.fresh_dir(ctx.path(CHINESE_FOLDER, "update-" + code_page))
    code, out = update(ctx, wine, folder, ctx.url("%s/client%s" % (ctx.tag, code_page)))
    ctx.results.check(group, "UpdateToolTakesTheFolder", code == 0, "" if code == 0 else "exit %d: %s" % (code, out))
    ctx.results.check(group, "UpdateToolInstalledTheFiles",
                      all(file_md5(os.path.join(folder, rel)) == md5(data) for rel, data in client_files.items()))

    # launcher.exe started from the folder: both update runs end and the
    # program runs on.
    home = harness.fresh_dir(ctx.path(CHINESE_FOLDER, "launcher-" + code_page))
    shutil.copyfile(exe, os.path.join(home, "launcher.exe"))
    for marker in ("Korblib.dll", "d3dx9_43.dll"):
        write(os.path.join(home, marker), b"x")
    os.makedirs(os.path.join(home, "data"), exist_ok=True)
    log_path = ctx.path("launcher-%s.log" % code_page)
    proc = wine.start([os.path.join(home, "launcher.exe")], home, log_path)
    try:
        installed = harness.wait_for(
            lambda: all(file_md5(os.path.join(home, rel)) == md5(data) for rel, data in client_files.items()) and
            os.path.exists(os.path.join(home, "readme.txt")), 120, step=0.5)
        ctx.results.check(group, "LauncherUpdatedItsFolder", bool(installed),
                          "files: %s" % sorted(os.listdir(home)))
        both = harness.wait_for(lambda: os.path.exists(os.path.join(home, "data", "update1.local")), 60, step=0.5)
        time.sleep(1)
        ctx.results.check(group, "LauncherRunsOn", bool(both) and proc.poll() is None,
                          "exit code %s" % proc.poll())
    finally:
        harness.Wine.stop(proc)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--build", required=True)
    parser.add_argument("--update-root", required=True)
    parser.add_argument("--port-base", type=int, required=True)
    parser.add_argument("--results", required=True)
    args = parser.parse_args()
    ctx = Context(args)
    try:
        ctx.wine.prepare(ctx.work)
        try:
            check_device_names(ctx)
        except Exception as e:  # noqa: BLE001 - every failure becomes a failed check
            ctx.results.error("DeviceNames", "SetUp", e)
        skin = None
        try:
            skin = make_skin(ctx)
        except Exception as e:  # noqa: BLE001
            ctx.results.error("ChineseFolder", "Skin", e)
        for code_page in CODE_PAGES:
            if skin is None:
                break
            try:
                check_chinese_folder(ctx, pack(ctx, skin, code_page), code_page)
            except Exception as e:  # noqa: BLE001
                ctx.results.error("ChineseFolder%s" % code_page, "SetUp", e)
    finally:
        ctx.wine.end_server()
        shutil.rmtree(os.path.join(ctx.www, ctx.tag), ignore_errors=True)
    ctx.results.write(args.results)
    return 1 if ctx.results.failed() else 0


if __name__ == "__main__":
    sys.exit(main())

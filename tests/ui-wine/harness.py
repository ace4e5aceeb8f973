"""The player's view of launcher.exe under Wine on an X server: starting and
stopping the launcher, screenshots, image regions and their comparison, mouse
input with xdotool, the window's facts from ui-probe.exe, and the results
file that scripts/test counts (gtest-style XML, one testcase per check)."""
import os
import re
import shutil
import subprocess
import sys
import tempfile
import time
import xml.etree.ElementTree as ET

HERE = os.path.dirname(os.path.abspath(__file__))
TOP = os.path.dirname(os.path.dirname(HERE))
WINE_RUN = os.path.join(TOP, "scripts", "wine-run")
# What Wine prints when a program loses its connection to the wineserver.
WINE_CLIENT_ERROR = b"wine client error"


# ---------------------------------------------------------------- images

class Image:
    """An RGB picture: width, height and 3 bytes per pixel, row by row."""

    def __init__(self, width, height, data):
        self.width, self.height, self.data = width, height, bytes(data)

    @staticmethod
    def from_ppm(blob):
        # Binary PPM (P6, maxval 255), as ImageMagick and ui-probe write it.
        fields, pos = [], 0
        while len(fields) < 4:
            while blob[pos:pos + 1].isspace():
                pos += 1
            if blob[pos:pos + 1] == b"#":
                pos = blob.index(b"\n", pos) + 1
                continue
            end = pos
            while not blob[end:end + 1].isspace():
                end += 1
            fields.append(blob[pos:end])
            pos = end
        if fields[0] != b"P6" or fields[3] != b"255":
            raise ValueError("not an 8-bit binary PPM")
        width, height = int(fields[1]), int(fields[2])
        pos += 1
        return Image(width, height, blob[pos:pos + width * height * 3])

    @staticmethod
    def load(path):
        """Any file ImageMagick reads, flattened to RGB."""
        return Image.from_ppm(run(["convert", path, "-depth", "8", "ppm:-"]).stdout)

    def crop(self, x, y, w, h):
        if x < 0 or y < 0 or x + w > self.width or y + h > self.height:
            raise ValueError("region %dx%d+%d+%d outside %dx%d" % (w, h, x, y, self.width, self.height))
        rows = []
        for row in range(y, y + h):
            start = (row * self.width + x) * 3
            rows.append(self.data[start:start + w * 3])
        return Image(w, h, b"".join(rows))

    def column(self, x):
        return bytes(b for y in range(self.height) for b in self.data[(y * self.width + x) * 3:(y * self.width + x) * 3 + 3])

    def save(self, path):
        with open(path, "wb") as f:
            f.write(b"P6\n%d %d\n255\n" % (self.width, self.height) + self.data)


def difference(a, b, tolerance=48):
    """(share of pixels whose largest channel difference exceeds tolerance,
    mean absolute channel difference) of two pictures of one size."""
    if (a.width, a.height) != (b.width, b.height):
        raise ValueError("sizes differ: %dx%d and %dx%d" % (a.width, a.height, b.width, b.height))
    bad = 0
    total = 0
    da, db = a.data, b.data
    for i in range(0, len(da), 3):
        d = max(abs(da[i] - db[i]), abs(da[i + 1] - db[i + 1]), abs(da[i + 2] - db[i + 2]))
        total += abs(da[i] - db[i]) + abs(da[i + 1] - db[i + 1]) + abs(da[i + 2] - db[i + 2])
        if d > tolerance:
            bad += 1
    pixels = a.width * a.height
    return bad / pixels, total / (pixels * 3)


def matches(a, b, max_bad=0.03, max_mean=10.0):
    bad, mean = difference(a, b)
    return bad <= max_bad and mean <= max_mean, "%.1f%% pixels off, mean difference %.1f" % (bad * 100, mean)


def layered(skin, positions, layers, rect):
    """ImageMagick's picture of the skin's background with skin images drawn
    over it at their controls' positions (alpha over), cut to rect: the
    reference for controls drawn from those images."""
    args = ["convert", os.path.join(skin, "background.png")]
    for name, control in layers:
        x, y = positions[control][:2]
        args += [os.path.join(skin, name + ".png"), "-geometry", "+%d+%d" % (x, y), "-composite"]
    x, y, w, h = rect
    args += ["-crop", "%dx%d+%d+%d" % (w, h, x, y), "+repage", "-depth", "8", "ppm:-"]
    return Image.from_ppm(run(args).stdout)


# The controls and images of the login look that lie over the login panel.
LOGIN_LAYERS = [("frm_login", "picLogin"), ("btn_start_normal", "LGStart"),
                ("cb_normal", "btnSelServer"), ("cb_normal", "btnSelMem")]


def read_positions(path):
    import json
    with open(path, encoding="utf-8") as f:
        return {name: (v["left"], v["top"], v["width"], v["height"]) for name, v in json.load(f).items()}


# ---------------------------------------------------------------- processes

def run(args, check=True, **kw):
    result = subprocess.run(args, stdout=subprocess.PIPE, stderr=subprocess.PIPE, **kw)
    if check and result.returncode != 0:
        raise RuntimeError("%s failed (%d): %s" % (" ".join(args[:3]), result.returncode,
                                                   result.stderr.decode(errors="replace")[-800:]))
    return result


class Wine:
    """A Wine prefix of our own for the window tests, on the display of
    the environment."""

    def __init__(self, prefix):
        self.env = dict(os.environ)
        self.env["WINEPREFIX"] = os.path.abspath(prefix)
        self.env["WINEDEBUG"] = "-all"
        self.env.pop("LAUNCHER_QUIET", None)
        # The launcher's target is a Chinese Windows, whose ANSI code page is
        # 936: its narrow texts (font names included) are code page 936.
        # Wine takes the code page from LANG, installed locale or not.
        self.env.pop("LC_ALL", None)
        self.env["LANG"] = "zh_CN.UTF-8"

    def prepare(self, folder, window_manager=False):
        """Settings of the prefix: a crashing program ends instead of waiting
        in Wine's crash dialog (a crash shows up as a process that is gone);
        windows are not left to a window manager unless the display has
        one (Xvfb runs none, and Wine would wait for it on every hidden
        window); and the launcher's
        Chinese fonts, which Windows has and Wine lacks, are drawn with
        WenQuanYi Zen Hei (fonts-wqy-zenhei)."""
        lines = ["Windows Registry Editor Version 5.00", "",
                 "[HKEY_CURRENT_USER\\Software\\Wine\\WineDbg]", '"ShowCrashDialog"=dword:00000000', "",
                 "[HKEY_CURRENT_USER\\Software\\Wine\\X11 Driver]",
                 '"Managed"="%s"' % ("Y" if window_manager else "N"), "",
                 "[HKEY_CURRENT_USER\\Software\\Wine\\Fonts\\Replacements]"]
        for name in ("黑体", "宋体", "SimHei", "SimSun"):
            lines.append('"%s"="WenQuanYi Zen Hei"' % name)
        path = os.path.join(folder, "prefix-settings.reg")
        # regedit reads UTF-16 files with their byte order mark.
        with open(path, "wb") as f:
            f.write(("\r\n".join(lines) + "\r\n").encode("utf-16"))
        self.keep_server()
        self.run(["regedit", "/S", winpath(path)], timeout=180)

    def run(self, args, timeout=60, check=True):
        result = self.run_once(args, timeout)
        if result.returncode != 0 and WINE_CLIENT_ERROR in result.stderr:
            # The prefix's wineserver went away under the program (Wine's
            # own connection failed, the program never ran to its end):
            # start the server again and run the program once more.
            sys.stderr.write("wine lost its server during %s; running it again\n" % os.path.basename(args[0]))
            self.keep_server()
            time.sleep(1)
            result = self.run_once(args, timeout)
        code = result.returncode
        if check and code != 0:
            raise RuntimeError("%s failed (%d): %s" % (" ".join(args[:2]), code,
                                                       result.stderr.decode(errors="replace")[-800:]))
        return result

    def run_once(self, args, timeout):
        # Output goes through files, not pipes: the prefix's service
        # processes, which the first program starts, inherit its output
        # handles and outlive it, so a pipe would not end with the program.
        with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
            proc = subprocess.Popen([WINE_RUN] + args, env=self.env, stdin=subprocess.DEVNULL, stdout=out, stderr=err)
            try:
                code = proc.wait(timeout=timeout)
            except subprocess.TimeoutExpired:
                proc.kill()
                proc.wait()
                raise
            out.seek(0)
            err.seek(0)
            return subprocess.CompletedProcess(args, code, out.read(), err.read())

    def start(self, args, cwd, log_path, debug=True):
        env = dict(self.env)
        if debug:
            env["WINEDEBUG"] = "+debugstr"
        log = open(log_path, "wb")
        proc = subprocess.Popen([WINE_RUN] + args, cwd=cwd, env=env, stdin=subprocess.DEVNULL, stdout=log,
                                stderr=subprocess.STDOUT)
        proc.log_file = log
        return proc

    @staticmethod
    def stop(proc):
        if proc.poll() is None:
            proc.kill()
            try:
                proc.wait(timeout=10)
            except subprocess.TimeoutExpired:
                pass
        proc.log_file.close()

    def keep_server(self):
        """Keeps the prefix's wineserver running until end_server, so that
        its service processes are started once and programs never meet a
        server that is just ending. prepare() starts it."""
        subprocess.Popen(["wineserver", "-p"], env=self.env, stdin=subprocess.DEVNULL,
                         stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

    def end_server(self):
        """Ends the prefix's wineserver and every program still in it."""
        run(["wineserver", "-k"], check=False, env=self.env, timeout=60)


def winpath(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\")


# ---------------------------------------------------------------- the screen

class Screen:
    def __init__(self, wine, probe_exe):
        self.wine, self.probe = wine, probe_exe

    def facts(self):
        """The launcher window's facts from ui-probe, or None without one."""
        try:
            result = self.wine.run([self.probe, "facts"], check=False, timeout=20)
        except subprocess.TimeoutExpired:
            return None
        facts = {}
        for line in result.stdout.decode(errors="replace").splitlines():
            if "=" in line:
                key, value = line.split("=", 1)
                facts[key.strip()] = value.strip()
        return facts if facts.get("found") == "1" else None

    def wait_window(self, proc, timeout=30, predicate=lambda f: True):
        deadline = time.time() + timeout
        while time.time() < deadline:
            if proc is not None and proc.poll() is not None:
                return None
            facts = self.facts()
            if facts and predicate(facts):
                return facts
            time.sleep(0.3)
        return None

    @staticmethod
    def shot():
        return Image.from_ppm(run(["import", "-window", "root", "-depth", "8", "ppm:-"]).stdout)

    @staticmethod
    def move(x, y):
        run(["xdotool", "mousemove", "--sync", str(x), str(y)])

    @staticmethod
    def button(action, number=1):
        run(["xdotool", action, str(number)])

    @staticmethod
    def click(x, y):
        Screen.move(x, y)
        run(["xdotool", "click", "1"])


def wait_for(predicate, timeout, step=0.2):
    deadline = time.time() + timeout
    while time.time() < deadline:
        value = predicate()
        if value:
            return value
        time.sleep(step)
    return predicate()


def read_log(path):
    try:
        with open(path, "rb") as f:
            return f.read()
    except OSError:
        return b""


# The lines of Wine's own crash report: "wine: Unhandled page fault ...",
# "wine: Unhandled exception ..." from the crashing process, "Unhandled
# exception:" and "Backtrace:" from winedbg. A driver's "fixme:...
# Unhandled type" line (the HID bus, for one) is no crash.
CRASH_LINE = re.compile(r"^(?:wine: Unhandled |Unhandled exception: |Backtrace:)")


def crash_report(log):
    """None when a Wine log (bytes) shows no crash; otherwise "PROGRAM:
    LINE": the program whose thread Wine's crash report marks ("<==" in
    its thread list, else the module of the first backtrace frame, else
    "unknown program") and the first line that tells of the crash."""
    lines = log.decode("latin-1").splitlines()
    first = next((line.strip() for line in lines if CRASH_LINE.match(line)), None)
    if first is None:
        return None
    program = None
    process = None
    for line in lines:
        head = re.match(r"^([0-9a-f]{8}) (\S.*?)\s*$", line)
        if head:
            process = head.group(2)
        elif "<==" in line and process:
            program = process
            break
    if program is None:
        frame = next((re.search(r"=>\s*0 0x[0-9a-f]+ in (\S+)", line) for line in lines
                      if re.search(r"=>\s*0 0x[0-9a-f]+ in ", line)), None)
        program = frame.group(1) if frame else "unknown program"
    return "%s: %s" % (program, first[:200])


def debug_lines(path):
    """The launcher's OutputDebugStringA texts from a +debugstr log, decoded
    from code page 936 (the same rule as demo/debug-log-filter.py)."""
    import importlib.util
    spec = importlib.util.spec_from_file_location("dlf", os.path.join(TOP, "demo", "debug-log-filter.py"))
    dlf = importlib.util.module_from_spec(spec)
    spec.loader.exec_module(dlf)
    lines = []
    for raw in read_log(path).splitlines():
        match = dlf.LINE.search(raw.decode("latin-1"))
        if match:
            lines.append(dlf.unescape(match.group(1)).decode("gbk", errors="replace").rstrip("\n"))
    return lines


# ---------------------------------------------------------------- results

class Results:
    """One testcase per check, written as a gtest-style XML file."""

    def __init__(self, suite, excluded=()):
        self.suite = suite
        self.cases = []
        # Checks left out of the results ("Group.Name" or "Group"): they
        # still run and print, so their state stays visible.
        self.excluded = set(excluded)

    def check(self, group, name, ok, detail=""):
        if group in self.excluded or "%s.%s" % (group, name) in self.excluded:
            print("[ LEFT OUT, %s ] %s.%s: %s" % ("passes" if ok else "fails", group, name, detail), flush=True)
            return bool(ok)
        self.cases.append((group, name, bool(ok), detail))
        print("[%s] %s.%s%s" % ("  OK  " if ok else "FAILED", group, name, (": " + detail) if detail else ""),
              flush=True)
        return bool(ok)

    def error(self, group, name, exc):
        return self.check(group, name, False, "error: %s" % exc)

    def failed(self):
        return sum(1 for c in self.cases if not c[2])

    def write(self, path):
        os.makedirs(os.path.dirname(path), exist_ok=True)
        root = ET.Element("testsuites", name="AllTests", tests=str(len(self.cases)), failures=str(self.failed()))
        groups = {}
        for group, name, ok, detail in self.cases:
            groups.setdefault(group, []).append((name, ok, detail))
        for group, cases in groups.items():
            suite = ET.SubElement(root, "testsuite", name=group, tests=str(len(cases)),
                                  failures=str(sum(1 for c in cases if not c[1])))
            for name, ok, detail in cases:
                case = ET.SubElement(suite, "testcase", name=name, classname=group, status="run")
                if not ok:
                    ET.SubElement(case, "failure", message=detail or "failed").text = detail
        ET.ElementTree(root).write(path, encoding="utf-8", xml_declaration=True)


def fresh_dir(path):
    shutil.rmtree(path, ignore_errors=True)
    os.makedirs(path)
    return path

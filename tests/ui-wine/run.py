#!/usr/bin/env python3
"""The window tests: launcher.exe of a Windows build, packed with the demo
skin, run under Wine on the X server of DISPLAY against the update server
peer (nginx), seen and driven the way a player does. Every check compares
the screen, or the window's facts, with a reference made independently of
what is checked (tests/ui-wine/README.md lists them).

  run.py --build WIN32_BUILD --update-root WWW --port-base N --results FILE.xml
         [--only CASE,...] [--exclude GROUP.CHECK,...]
"""
import argparse
import hashlib
import os
import shutil
import subprocess
import sys
import time
import traceback

sys.dont_write_bytecode = True  # no cache files in the source tree
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import harness  # noqa: E402
import package  # noqa: E402
from harness import LOGIN_LAYERS, Image, matches, wait_for  # noqa: E402

BIG_SIZE = 1 << 30            # sparse file; /slow/ serves it at 4 MB/s per connection
STATUS_DOWNLOADING = "正在下载 big.bin 1/1"
# The same shape with other Chinese characters: a font without Chinese
# glyphs draws both alike (as boxes), which the status check refuses.
STATUS_OTHER = "跳过更新 big.bin 1/1"
SKIP_TEXT = "跳过更新"
REPAIR_ENTRY = "校验并修复游戏文件"
REPAIR_DONE = "校验完成，已修复 1 个文件"
REPAIR_INTACT = "校验完成，所有文件完好"
# Large enough for a chunk index beside it, and for its download from
# /crawl/ (512 KB/s on each of the engine's connections) to last many
# seconds while the repair entry is read.
REPAIR_PACK_SIZE = 48 << 20
ODD_BUTTON_COLOUR = "#cc3333"  # the solid LGBtn1 image of another size
# Seconds from the click on LGClose to the end of the process: a cancelled
# run ends in well under a second, but the click's own tool and Wine's
# teardown of the process take more than that on a loaded machine. A close
# that waited for the download, or for an update thread that does not end,
# takes far longer.
CLOSE_LIMIT = 3.0


class Context:
    def __init__(self, args):
        self.build = os.path.abspath(args.build)
        self.www = os.path.abspath(args.update_root)
        self.base = args.port_base
        self.work = harness.fresh_dir(os.path.join(self.build, "ui-wine"))
        self.wine = harness.Wine(os.path.join(self.build, "ui-wine-prefix"))
        self.exe = os.path.join(self.build, "launcher", "launcher.exe")
        self.pack_exe = os.path.join(self.build, "tools", "launcher-pack", "launcher-pack.exe")
        self.manifest_exe = os.path.join(self.build, "tools", "launcher-manifest", "launcher-manifest.exe")
        self.probe = os.path.join(self.build, "tests", "ui-wine", "ui-probe.exe")
        # Notes that it ran in start-marker.txt of its working directory.
        self.marker_exe = os.path.join(self.build, "install", "start-marker.exe")
        self.screen = harness.Screen(self.wine, self.probe)
        self.results = harness.Results("ui_wine", [c for c in args.exclude.split(",") if c])
        self.skin = os.path.join(self.work, "skin")
        self.positions = harness.read_positions(os.path.join(harness.TOP, "demo", "positions.json"))

    def path(self, *parts):
        return os.path.join(self.work, *parts)

    def img(self, name):
        return os.path.join(self.skin, name + ".png")

    def url(self, port_offset, path):
        return "http://127.0.0.1:%d/%s" % (self.base + port_offset, path)


def image_size(path):
    out = harness.run(["identify", "-format", "%w %h", path]).stdout.split()
    return int(out[0]), int(out[1])


# ---------------------------------------------------------------- set-up

def write_config(ctx, name, client_url, launcher_url):
    # Link buttons and news point at a port where nothing listens: a test
    # never opens a page by accident.
    dead = ctx.url(9, "")
    fields = ["0", "0", "0", "12", "UiTest", client_url, launcher_url,
              dead + "home/", dead + "register/", dead + "forum/", dead + "pay/", dead + "news/", dead + "forget/"]
    path = ctx.path(name + ".config.txt")
    with open(path, "w", encoding="utf-8") as f:
        f.write("\n".join(fields) + "\n")
    return path


def pack(ctx, name, client_url, launcher_url):
    config = write_config(ctx, name, client_url, launcher_url)
    out = ctx.path(name + ".exe")
    ctx.wine.run([ctx.pack_exe, "pack", "--exe", harness.winpath(ctx.exe), "--config", harness.winpath(config),
                  "--skin", harness.winpath(ctx.skin), "--positions",
                  harness.winpath(os.path.join(harness.TOP, "demo", "positions.json")),
                  "-o", harness.winpath(out)], timeout=120)
    return out


def publish(ctx, release, target, name):
    ctx.wine.run([ctx.manifest_exe, harness.winpath(release), harness.winpath(os.path.join(ctx.www, target)),
                  "--name", name], timeout=300)


def set_up(ctx):
    ctx.wine.prepare(ctx.work)
    harness.run(["bash", os.path.join(harness.TOP, "demo", "make-skin.sh"), ctx.skin])
    # A large download: one sparse file, fetched from the rate-limited /slow/
    # location of the update server, so the run is still downloading while
    # the checks look at it.
    big = harness.fresh_dir(ctx.path("release-big"))
    with open(os.path.join(big, "big.bin"), "wb") as f:
        f.truncate(BIG_SIZE)
    small = harness.fresh_dir(ctx.path("release-small"))
    with open(os.path.join(small, "readme.txt"), "w") as f:
        f.write("window tests\n")
    publish(ctx, big, "ui/big-client", "update.json")
    publish(ctx, big, "ui/big-launcher", "updateL.json")
    publish(ctx, small, "ui/small-launcher", "updateL.json")
    ctx.main_exe = pack(ctx, "main", ctx.url(5, "slow/ui/big-client"), ctx.url(5, "ui/small-launcher"))
    # The client run's manifest cannot be fetched (nothing listens), so the
    # skip link comes up; the launcher run then downloads for a long while.
    ctx.skip_exe = pack(ctx, "skip", ctx.url(9, "none"), ctx.url(5, "slow/ui/big-launcher"))
    # The launcher's own update: a launcher run that accepts no launcher
    # entry, and one whose launcher entry is the start-marker program.
    publish(ctx, small, "ui/small-client", "update.json")
    genuine = harness.fresh_dir(ctx.path("release-genuine"))
    shutil.copyfile(ctx.marker_exe, os.path.join(genuine, "launcher.exe"))
    publish(ctx, genuine, "ui/genuine-launcher", "updateL.json")
    ctx.planted_exe = pack(ctx, "planted", ctx.url(5, "ui/small-client"), ctx.url(5, "ui/small-launcher"))
    ctx.genuine_exe = pack(ctx, "genuine", ctx.url(5, "ui/small-client"), ctx.url(5, "ui/genuine-launcher"))
    ctx.bg_size = image_size(ctx.img("background"))
    # References of the texts the window draws, made before any launcher
    # runs (the probe's window has the launcher's class while it renders).
    ctx.status_reference = render(ctx, ctx.main_exe, "status-reference", "updating", "LBStatus", STATUS_DOWNLOADING)
    ctx.status_ground = render(ctx, ctx.main_exe, "status-ground", "updating", "LBStatus", " ")
    ctx.status_other = render(ctx, ctx.main_exe, "status-other", "updating", "LBStatus", STATUS_OTHER)
    ctx.skip_reference = render(ctx, ctx.skip_exe, "skip-reference", "skiplink", "lbIngUpdate", SKIP_TEXT)
    ctx.skip_ground = render(ctx, ctx.skip_exe, "skip-ground", "updating")
    import json
    with open(os.path.join(ctx.www, "ui", "big-client", "update.json"), encoding="utf-8") as f:
        ctx.big_md5 = json.load(f)[0]["Hash"]


def render(ctx, exe, name, look, label=None, text=None):
    """The probe's composition of the window from the package of `exe`."""
    out = ctx.path(name + ".ppm")
    args = [ctx.probe, "render", harness.winpath(exe), harness.winpath(out), look]
    if label:
        args += [label, text.encode("utf-8").hex()]
    ctx.wine.run(args, timeout=120)
    return Image.load(out)


def layered(ctx, layers, rect):
    return harness.layered(ctx.skin, ctx.positions, layers, rect)


# ---------------------------------------------------------------- helpers

class Launch:
    """One launcher process in a folder of its own."""

    def __init__(self, ctx, name, exe, args=(), again=False):
        """`again`: the folder of an earlier launch of that name, as it was
        left, started with `args`."""
        self.ctx = ctx
        self.folder = ctx.path("cases", name)
        self.exe = os.path.join(self.folder, "launcher.exe")
        if not again:
            harness.fresh_dir(self.folder)
            shutil.copyfile(exe, self.exe)
            # A game folder, so the install-location check lets the
            # launcher stay and update here instead of asking for one.
            for marker in ("Korblib.dll", "d3dx9_43.dll"):
                with open(os.path.join(self.folder, marker), "wb") as f:
                    f.write(b"x")
            os.makedirs(os.path.join(self.folder, "data"), exist_ok=True)
        self.log = os.path.join(self.folder, "wine.log")
        self.proc = ctx.wine.start([self.exe] + list(args), self.folder, self.log)
        self.facts = None

    def wait_skinned(self, size, timeout=40):
        self.facts = self.ctx.screen.wait_window(
            self.proc, timeout,
            lambda f: f.get("visible") == "1" and (int(f["client_width"]), int(f["client_height"])) == size)
        return self.facts

    def region(self, shot, rect):
        x, y, w, h = rect
        return shot.crop(int(self.facts["left"]) + x, int(self.facts["top"]) + y, w, h)

    def point(self, control):
        x, y, w, h = self.ctx.positions[control]
        return int(self.facts["left"]) + x + w // 2, int(self.facts["top"]) + y + h // 2

    def debug(self):
        return harness.debug_lines(self.log)

    def downloading(self):
        """The update thread has started the large download (its log line
        "下载 " + URL; only the ASCII URL is matched)."""
        return any("http://" in line and line.endswith("/big.bin") and "=>" not in line for line in self.debug())

    def finished_download(self):
        """The large file has been verified (the log line with its digest)."""
        return any(self.ctx.big_md5 + "+++" in line for line in self.debug())

    def stop(self):
        harness.Wine.stop(self.proc)
        # The large download's file is not needed afterwards.
        for name in os.listdir(self.folder):
            if name.startswith("big.bin"):
                os.remove(os.path.join(self.folder, name))


def distinct(a, b):
    """True when two references are far enough apart that a check against
    one of them tells them apart."""
    return not matches(a, b)[0]


def check_region(ctx, group, name, actual, expected, wrong=None):
    """The screen region matches the expected picture; when a wrong picture
    is given, the expected one must differ from it, so that the check
    would notice the wrong state."""
    if wrong is not None and not distinct(expected, wrong):
        return ctx.results.check(group, name, False, "reference does not differ from the wrong picture")
    ok, detail = matches(actual, expected)
    if not ok:
        keep_pictures(ctx, group, name, actual=actual, expected=expected)
    return ctx.results.check(group, name, ok, detail)


def keep_pictures(ctx, group, name, **pictures):
    """Keeps the pictures of a failed check beside the results."""
    folder = os.path.join(ctx.work, "failures")
    os.makedirs(folder, exist_ok=True)
    for kind, picture in pictures.items():
        ppm = os.path.join(folder, "%s.%s.%s.ppm" % (group, name, kind))
        picture.save(ppm)
        harness.run(["convert", ppm, ppm[:-4] + ".png"], check=False)
        os.remove(ppm)


def ink_columns(reference, ground):
    """Columns in which a rendered text differs from the ground under it."""
    cols = [x for x in range(reference.width)
            if harness.difference(reference.crop(x, 0, 1, reference.height),
                                  ground.crop(x, 0, 1, ground.height))[0] > 0]
    return cols


def fill_length(bar, fill, track):
    """Columns of a progress bar region that look like the fill image rather
    than the empty track (the fill lies at the left; its edge column may be
    blended)."""
    length = 0
    for x in range(bar.width):
        column = bar.crop(x, 0, 1, bar.height)
        to_fill = harness.difference(column, fill.crop(x, 0, 1, fill.height), 0)[1]
        to_track = harness.difference(column, track.crop(x, 0, 1, track.height), 0)[1]
        if to_fill < to_track:
            length += 1
    return length


# ---------------------------------------------------------------- cases

def case_startup(ctx):
    """Start-up, status line, progress, hover and press, second start and
    closing during the download: one launcher doing its client run."""
    group = "Startup"
    launch = Launch(ctx, "startup", ctx.main_exe)
    try:
        facts = launch.wait_skinned(ctx.bg_size)
        if not ctx.results.check(group, "WindowTakesTheBackgroundSize", facts is not None,
                                 "wanted a visible window of %dx%d: %s" % (ctx.bg_size + (ctx.screen.facts(),))):
            return
        ctx.results.check(group, "WindowClassAndTitle",
                          facts["class"] == "Client Launcher" and facts["title"] == "Quellan",
                          "class %r title %r" % (facts["class"], facts["title"]))
        ctx.results.check(group, "Borderless", facts["caption"] == "0" and facts["border"] == "0",
                          "caption %s border %s" % (facts["caption"], facts["border"]))
        shot = ctx.screen.shot()
        # Centred at the form's size (985 x 554) when first shown; the
        # background then grows it from the same top-left corner.
        cx, cy = (shot.width - 985) // 2, (shot.height - 554) // 2
        left, top = int(facts["left"]), int(facts["top"])
        ctx.results.check(group, "CentredAtTheFormSize", abs(left - cx) <= 1 and abs(top - cy) <= 1,
                          "top-left %d,%d, expected %d,%d" % (left, top, cx, cy))

        ok = wait_for(launch.downloading, 40)
        ctx.results.check(group, "DownloadStarts", ok, "a download line in the debug output: %s" % bool(ok))
        time.sleep(1.3)  # at least two ticks of the 500 ms progress display
        shot1 = ctx.screen.shot()
        t1 = time.time()
        check_controls(ctx, launch, shot1)
        check_status_line(ctx, launch, shot1)
        time.sleep(2.0)
        shot2 = ctx.screen.shot()
        check_progress(ctx, launch, shot1, shot2, time.time() - t1)
        check_hover_and_press(ctx, launch)
        check_dragging(ctx, launch)
        check_second_start(ctx, launch)
        check_close_during_download(ctx, group, launch)
    finally:
        launch.stop()


def check_controls(ctx, launch, shot):
    group = "StartupPicture"
    p = ctx.positions
    # Background where no control lies in the updating look.
    for name, rect in (("BackgroundTop", (0, 0, 440, 28)), ("BackgroundNewsArea", p["wb"])):
        check_region(ctx, group, name, launch.region(shot, rect), layered(ctx, [], rect))
    for control, image in (("LGBtn1", "btn_gw_normal"), ("LGBtn2", "btn_lt_normal"), ("LGBtn3", "btn_cz_normal"),
                           ("LGBtn4", "btn_zc_normal"), ("LGClose", "close_normal"), ("LGmin", "min_normal"),
                           ("picSlogan", "pic_slogan")):
        rect = p[control]
        check_region(ctx, group, control + "ShowsItsImage", launch.region(shot, rect),
                     layered(ctx, [(image, control)], rect), wrong=layered(ctx, [], rect))
    # The updating look: no login panel, no start button.
    rect = p["picLogin"]
    ok, detail = matches(launch.region(shot, rect), layered(ctx, [("frm_login", "picLogin")], rect))
    ctx.results.check(group, "UpdatingLookHidesTheLoginPanel", not ok, detail)


def check_status_line(ctx, launch, shot):
    group = "StatusLine"
    rect = ctx.positions["LBStatus"]
    x, y, w, h = rect
    ref_line, ground_line = ctx.status_reference.crop(x, y, w, h), ctx.status_ground.crop(x, y, w, h)
    cols = ink_columns(ref_line, ground_line)
    glyphs = distinct(ref_line, ctx.status_other.crop(x, y, w, h))
    if not ctx.results.check(group, "ReferenceHasChineseGlyphs", len(cols) > 40 and glyphs,
                             "%d ink columns, differs from other characters: %s" % (len(cols), glyphs)):
        keep_pictures(ctx, group, "ReferenceHasChineseGlyphs", reference=ref_line,
                      other=ctx.status_other.crop(x, y, w, h))
        return
    # The speed text follows after the status padded to 30 characters; the
    # comparison ends where the status text's own ink ends.
    width = min(w, cols[-1] + 4)
    actual = launch.region(shot, (x, y, width, h))
    check_region(ctx, group, "ShowsTheDownloadStatusInChinese", actual, ref_line.crop(0, 0, width, h),
                 wrong=ground_line.crop(0, 0, width, h))


def check_progress(ctx, launch, shot1, shot2, seconds):
    group = "Progress"
    for bar in ("LGPTotal", "LGCurrent"):
        rect = ctx.positions[bar]
        fill = layered(ctx, [("Progress_all", bar)], rect)
        track = layered(ctx, [("Progress_bk", bar)], rect)
        before, after = launch.region(shot1, rect), launch.region(shot2, rect)
        first, second = fill_length(before, fill, track), fill_length(after, fill, track)
        ok = 0 < first < second < rect[2]
        if not ok:
            keep_pictures(ctx, group, bar, before=before, after=after)
        ctx.results.check(group, bar + "Advances", ok,
                          "fill %d then %d of %d pixels %.1f s later" % (first, second, rect[2], seconds))


def region_when(ctx, launch, rect, expected, timeout=10):
    """The region's picture once it matches `expected`, or after `timeout`
    seconds (the check then reports what it shows): a loaded machine may
    take a while to repaint."""
    wait_for(lambda: matches(launch.region(ctx.screen.shot(), rect), expected)[0], timeout)
    return launch.region(ctx.screen.shot(), rect)


def check_hover_and_press(ctx, launch):
    group = "LinkButton"
    rect = ctx.positions["LGBtn1"]
    normal = layered(ctx, [("btn_gw_normal", "LGBtn1")], rect)
    active = layered(ctx, [("btn_gw_active", "LGBtn1")], rect)
    down = layered(ctx, [("btn_gw_down", "LGBtn1")], rect)
    x, y = launch.point("LGBtn1")
    ctx.screen.move(x, y)
    check_region(ctx, group, "HoverShowsTheActiveImage", region_when(ctx, launch, rect, active), active, wrong=normal)
    ctx.screen.button("mousedown")
    check_region(ctx, group, "PressShowsTheDownImage", region_when(ctx, launch, rect, down), down, wrong=active)
    # Released away from the button: no click, and the button is normal again.
    bx, by, _, _ = ctx.positions["wb"]
    ctx.screen.move(int(launch.facts["left"]) + bx + 200, int(launch.facts["top"]) + by + 200)
    ctx.screen.button("mouseup")
    check_region(ctx, group, "LeaveShowsTheNormalImage", region_when(ctx, launch, rect, normal), normal, wrong=active)


def drag(ctx, start, by):
    """Presses the left button at start, moves by `by` in steps, releases."""
    ctx.screen.move(*start)
    ctx.screen.button("mousedown")
    time.sleep(0.2)
    for step in range(1, 5):
        ctx.screen.move(start[0] + by[0] * step // 4, start[1] + by[1] * step // 4)
        time.sleep(0.1)
    ctx.screen.button("mouseup")
    time.sleep(0.4)


def check_dragging(ctx, launch):
    """The window follows a drag that starts on its background or on the
    slogan, and stays where it is when the drag starts on a link button."""
    group = "Dragging"
    for name, start, moves in (("FromTheBackground", (300, 300), True), ("FromTheSlogan", "picSlogan", True),
                               ("NotFromALinkButton", "LGBtn2", False)):
        before = ctx.screen.facts()
        if isinstance(start, str):
            point = launch.point(start)
        else:
            point = (int(before["left"]) + start[0], int(before["top"]) + start[1])
        drag(ctx, point, (40, 30))
        after = ctx.screen.facts()
        moved = (int(after["left"]) - int(before["left"]), int(after["top"]) - int(before["top"]))
        expected = (40, 30) if moves else (0, 0)
        ctx.results.check(group, name, moved == expected, "moved by %s, expected %s" % (moved, expected))
        launch.facts = after


def check_login_look_dragging(ctx, launch):
    """In the login look the panel drags the window; the enabled label of
    the last chosen server (lbLstSelSrv) does not. (The refresh link is no
    place for this check: it is hidden while a list request is pending.)"""
    group = "Dragging"
    panel = ctx.positions["picLogin"]
    for name, point, moves in (("FromTheLoginPanel", (panel[0] + 30, panel[1] + 200), True),
                               ("NotFromAnEnabledLabel", "lbLstSelSrv", False)):
        before = ctx.screen.facts()
        if isinstance(point, str):
            start = launch.point(point)
        else:
            start = (int(before["left"]) + point[0], int(before["top"]) + point[1])
        drag(ctx, start, (-40, -30))
        after = ctx.screen.facts()
        moved = (int(after["left"]) - int(before["left"]), int(after["top"]) - int(before["top"]))
        expected = (-40, -30) if moves else (0, 0)
        ctx.results.check(group, name, moved == expected, "moved by %s, expected %s" % (moved, expected))
        launch.facts = after


def check_second_start(ctx, launch):
    group = "SingleInstance"
    # The minimise button first; the probe's system command if it fails.
    ctx.screen.click(*launch.point("LGmin"))
    minimized = ctx.screen.wait_window(launch.proc, 5, lambda f: f.get("iconic") == "1")
    ctx.results.check(group, "MinimiseButtonMinimises", minimized is not None,
                      "minimised: %s" % (minimized is not None))
    if minimized is None:
        ctx.wine.run([ctx.probe, "minimize"], check=False)
        minimized = ctx.screen.wait_window(launch.proc, 10, lambda f: f.get("iconic") == "1")
        if not ctx.results.check(group, "FirstWindowMinimised", minimized is not None,
                                 "minimised: %s" % (minimized is not None)):
            return
    second_log = os.path.join(launch.folder, "second.log")
    started = time.time()
    second = ctx.wine.start([launch.exe], launch.folder, second_log)
    try:
        code = second.wait(timeout=30)
    except subprocess.TimeoutExpired:
        code = None
    harness.Wine.stop(second)
    ctx.results.check(group, "SecondStartEnds", code == 0,
                      "exit code %s after %.1f s" % (code, time.time() - started))
    facts = ctx.screen.wait_window(launch.proc, 10, lambda f: f.get("iconic") == "0" and f.get("visible") == "1")
    ctx.results.check(group, "FirstWindowRestored", facts is not None, "facts after the second start: %s" % ctx.screen.facts())
    if facts:
        ctx.results.check(group, "OneWindowOnly", facts["count"] == "1", "%s windows" % facts["count"])
        launch.facts = facts
        # Restored, the window composes its picture again.
        time.sleep(0.5)
        rect = ctx.positions["LGBtn4"]
        check_region(ctx, group, "RestoredWindowShowsItsSkin", launch.region(ctx.screen.shot(), rect),
                     layered(ctx, [("btn_zc_normal", "LGBtn4")], rect), wrong=layered(ctx, [], rect))
    ctx.results.check(group, "FirstInstanceRunsOn", launch.proc.poll() is None, "first launcher running: %s" % (launch.proc.poll() is None))


def check_close_during_download(ctx, group, launch):
    if not ctx.results.check(group, "StillDownloadingBeforeClose", launch.proc.poll() is None and
                             launch.downloading() and not launch.finished_download(),
                             "running %s, downloading %s, finished %s" % (
                                 launch.proc.poll() is None, launch.downloading(), launch.finished_download())):
        return
    x, y = launch.point("LGClose")
    ctx.screen.move(x, y)
    clicked = time.time()
    harness.run(["xdotool", "click", "1"])
    try:
        launch.proc.wait(timeout=15)
    except subprocess.TimeoutExpired:
        pass
    elapsed = time.time() - clicked
    ended = launch.proc.poll() is not None
    ctx.results.check(group, "CloseDuringDownloadEndsWithinSeconds", ended and elapsed <= CLOSE_LIMIT,
                      "ended=%s after %.2f s" % (ended, elapsed))


def case_skip_link(ctx):
    group = "SkipLink"
    launch = Launch(ctx, "skiplink", ctx.skip_exe)
    p = ctx.positions
    try:
        facts = launch.wait_skinned(ctx.bg_size)
        if not ctx.results.check(group, "WindowComesUp", facts is not None, "skinned window: %s" % facts):
            return
        x, y, w, h = p["lbIngUpdate"]
        expected, hidden = ctx.skip_reference.crop(x, y, w, h), ctx.skip_ground.crop(x, y, w, h)
        shown = wait_for(lambda: matches(launch.region(ctx.screen.shot(), p["lbIngUpdate"]), expected)[0], 30, 0.5)
        if not check_region(ctx, group, "FailedManifestShowsTheSkipLink",
                            launch.region(ctx.screen.shot(), p["lbIngUpdate"]), expected, wrong=hidden) or not shown:
            return
        wait_for(launch.downloading, 30)
        panel = p["picLogin"]
        before = launch.region(ctx.screen.shot(), panel)
        ok, detail = matches(before, layered(ctx, LOGIN_LAYERS, panel))
        ctx.results.check(group, "NoLoginLookBeforeTheClick", not ok and launch.downloading(), detail)
        ctx.screen.click(*launch.point("lbIngUpdate"))
        # The login look is one repaint: the panel, both bars and the link.
        looks = [(panel, layered(ctx, LOGIN_LAYERS, panel)), (p["lbIngUpdate"], hidden)]
        looks += [(p[bar], layered(ctx, [], p[bar])) for bar in ("LGPTotal", "LGCurrent")]

        def login_look():
            shot = ctx.screen.shot()
            return all(matches(launch.region(shot, rect), look)[0] for rect, look in looks)
        wait_for(login_look, 10)
        shot = ctx.screen.shot()
        check_region(ctx, group, "ClickGivesTheLoginPanel", launch.region(shot, panel),
                     layered(ctx, LOGIN_LAYERS, panel), wrong=layered(ctx, [], panel))
        for bar in ("LGPTotal", "LGCurrent"):
            rect = p[bar]
            check_region(ctx, group, "LoginLookHides" + bar, launch.region(shot, rect), layered(ctx, [], rect),
                         wrong=layered(ctx, [("Progress_bk", bar)], rect))
        check_region(ctx, group, "LoginLookHidesTheSkipLink", launch.region(shot, p["lbIngUpdate"]), hidden,
                     wrong=expected)
        ctx.results.check(group, "UpdateGoesOnInTheBackground",
                          launch.proc.poll() is None and not launch.finished_download(), "")
        check_login_look_dragging(ctx, launch)
    finally:
        launch.stop()


def png(ctx, name, w, h, colour):
    path = ctx.path(name)
    harness.run(["convert", "-size", "%dx%d" % (w, h), "xc:" + colour, "PNG32:" + path])
    with open(path, "rb") as f:
        return f.read()


def case_bad_packages(ctx):
    """Packages a build may get wrong: the window still comes up, with no
    error box, and nothing crashes."""
    group = "BadPackage"
    form = (985, 554)
    variants = [
        ("NoPackage", ctx.exe, form, None),
        ("NoSkinImages", ("skin", lambda s: b""), form, None),
        ("ThirteenImages", ("skin", lambda s: package.skin_block(package.skin_records(s)[:13])), ctx.bg_size,
         ("btn_gw_normal", "LGBtn1")),
        ("BackgroundOfAnotherSize", ("skin", lambda s: package.skin_block(
            [png(ctx, "bg-700x400.png", 700, 400, "#336699")] + package.skin_records(s)[1:])), (700, 400), None),
        ("ButtonImageOfAnotherSize", ("skin", lambda s: package.skin_block(
            package.skin_records(s)[:2] + [png(ctx, "btn-300x120.png", 300, 120, ODD_BUTTON_COLOUR)] +
            package.skin_records(s)[3:])), ctx.bg_size, None),
        ("ShortPositionsBlock", ("positions", lambda b: b[:40]), ctx.bg_size, ("pic_slogan", "picSlogan")),
    ]
    # The short positions block places picSlogan but not the link buttons,
    # which stay at their form bounds (y 48 and below) over part of it: the
    # slogan is compared above them.
    above_buttons = {"picSlogan": lambda r: (r[0], r[1], r[2], 48 - r[1])}
    for name, source, size, image in variants:
        exe = source if isinstance(source, str) else ctx.path("bad-%s.exe" % name)
        if not isinstance(source, str):
            package.rewrite(ctx.main_exe, exe, **{source[0]: source[1]})
        launch = Launch(ctx, "bad-" + name, exe)
        try:
            facts = launch.wait_skinned(size, timeout=40)
            ok = facts is not None
            if ok:
                time.sleep(3)  # the update run and a few compositions
                facts = ctx.screen.facts()
                ok = launch.proc.poll() is None and facts is not None and facts["dialogs"] == "0"
            log = harness.read_log(launch.log)
            crash = harness.crash_report(log)
            ctx.results.check(group, name + "WindowComesUp", ok and crash is None,
                              "facts %s, running %s, crash %s" % (facts, launch.proc.poll() is None, crash))
            if ok and image:
                rect = ctx.positions[image[1]]
                if name == "ShortPositionsBlock":
                    rect = above_buttons[image[1]](rect)
                check_region(ctx, group, name + "Shows" + image[1], launch.region(ctx.screen.shot(), rect),
                             layered(ctx, [image], rect), wrong=layered(ctx, [], rect))
            if ok and name == "ButtonImageOfAnotherSize":
                check_stretched_button(ctx, group, launch)
        finally:
            launch.stop()


def check_stretched_button(ctx, group, launch):
    """A button image of another size is stretched into the button's bounds:
    LGBtn1 shows the solid 300 x 120 image as a solid 110 x 35 face, and
    nothing of it lies below the button."""
    x, y, w, h = ctx.positions["LGBtn1"]
    shot = ctx.screen.shot()
    solid = Image.from_ppm(harness.run(["convert", "-size", "%dx%d" % (w, h), "xc:" + ODD_BUTTON_COLOUR,
                                        "-depth", "8", "ppm:-"]).stdout)
    check_region(ctx, group, "ButtonImageIsStretchedIntoItsBounds", launch.region(shot, (x, y, w, h)), solid,
                 wrong=layered(ctx, [("btn_gw_normal", "LGBtn1")], (x, y, w, h)))
    below = (x, y + h, w, 40)
    check_region(ctx, group, "ButtonImageStaysInItsBounds", launch.region(shot, below), layered(ctx, [], below),
                 wrong=Image(w, 40, bytes.fromhex(ODD_BUTTON_COLOUR[1:]) * (w * 40)))


def case_self_update(ctx):
    """At the end of the launcher run, launcher.update is started only when
    it is the launcher entry of the manifest that run accepted: one planted
    beside the launcher (here a real program) is deleted and never runs,
    while the one the run fetched still swaps in."""
    group = "SelfUpdate"
    for name, exe, planted in (("planted", ctx.planted_exe, True), ("genuine", ctx.genuine_exe, False)):
        launch = Launch(ctx, "selfupdate-" + name, exe)
        update = os.path.join(launch.folder, "launcher.update")
        marker = os.path.join(launch.folder, "start-marker.txt")
        try:
            if planted:
                shutil.copyfile(ctx.marker_exe, update)
                refused = wait_for(lambda: any("launcher.update not started: the launcher run accepted no launcher "
                                               "entry; deleted" in line for line in launch.debug()), 120)
                ctx.results.check(group, "APlantedUpdateIsRefused", refused, "\n".join(launch.debug()[-5:]))
                ctx.results.check(group, "APlantedUpdateIsDeleted", not os.path.exists(update), update)
                # The launcher goes on to the login look instead of ending.
                ctx.results.check(group, "APlantedUpdateNeverRuns",
                                  not os.path.exists(marker) and launch.proc.poll() is None,
                                  "marker %s, launcher exit %s" % (os.path.exists(marker), launch.proc.poll()))
            else:
                started = wait_for(lambda: os.path.exists(marker) and launch.proc.poll() is not None, 120)
                first = ""
                if os.path.exists(marker):
                    with open(marker, encoding="utf-8", errors="replace") as f:
                        first = f.readline().strip()
                ctx.results.check(group, "TheFetchedUpdateSwapsIn",
                                  bool(started) and first.lower().endswith("launcher.update"),
                                  "marker line %r, launcher exit %s" % (first, launch.proc.poll()))
        finally:
            launch.stop()


def file_md5(path):
    try:
        with open(path, "rb") as f:
            return hashlib.md5(f.read()).hexdigest()
    except OSError:
        return None


def flip_byte(path, offset):
    """One byte of the file changed, its times put back: the normal
    comparison, which trusts them, does not notice."""
    times = os.stat(path)
    with open(path, "r+b") as f:
        f.seek(offset)
        byte = f.read(1)
        f.seek(offset)
        f.write(bytes([byte[0] ^ 0xFF]))
    os.utime(path, ns=(times.st_atime_ns, times.st_mtime_ns))


def repair_entry(ctx):
    """The repair entry of the launcher window's system menu as ui-probe
    reads it: "enabled" or "greyed", or None when the menu has no such
    entry (every line the probe gave goes with it)."""
    out = ctx.wine.run([ctx.probe, "menu"], check=False, timeout=60).stdout.decode("utf-8", errors="replace")
    for line in out.splitlines():
        parts = line.split(" ", 2)
        if len(parts) == 3 and parts[0].startswith("menu=") and parts[2].strip() == REPAIR_ENTRY:
            return parts[1], out
    return None, out


def case_repair(ctx):
    """The repair as a player asks for it: the system menu holds the entry,
    greyed while a run goes; a pack damaged by one byte with its time put
    back (which the normal comparison trusts) is repaired by a start with
    /repair, whose end text then stays on the status line of the login
    look; a second start with /repair has the running launcher repair."""
    group = "Repair"
    pack_data = os.urandom(REPAIR_PACK_SIZE)
    release = harness.fresh_dir(ctx.path("release-repair"))
    os.makedirs(os.path.join(release, "data"))
    with open(os.path.join(release, "data", "pack.dat"), "wb") as f:
        f.write(pack_data)
    with open(os.path.join(release, "data", "small.txt"), "wb") as f:
        f.write(b"repair case\r\n")
    publish(ctx, release, "ui/repair-client", "update.json")
    exe = pack(ctx, "repair", ctx.url(5, "crawl/ui/repair-client"), ctx.url(5, "ui/small-launcher"))
    p = ctx.positions
    x, y, w, h = p["LBStatus"]
    done = render(ctx, exe, "repair-done", "updating", "LBStatus", REPAIR_DONE).crop(x, y, w, h)
    intact = render(ctx, exe, "repair-intact", "updating", "LBStatus", REPAIR_INTACT).crop(x, y, w, h)
    pack_path = lambda launch: os.path.join(launch.folder, "data", "pack.dat")  # noqa: E731
    pack_right = lambda launch: file_md5(pack_path(launch)) == hashlib.md5(pack_data).hexdigest()  # noqa: E731

    launch = Launch(ctx, "repair", exe)
    try:
        if not ctx.results.check(group, "WindowComesUp", launch.wait_skinned(ctx.bg_size) is not None, ""):
            return
        fetching = wait_for(lambda: any("http://" in line and line.endswith("pack.dat") for line in launch.debug()),
                            60, 0.5)
        state, menu = repair_entry(ctx)
        ctx.results.check(group, "MenuHoldsTheEntry", state is not None, "" if state else menu)
        still = bool(fetching) and not pack_right(launch)
        ctx.results.check(group, "EntryGreyedWhileARunGoes", state == "greyed" and still,
                          "entry %s, pack still downloading: %s" % (state, still))
        # Both runs end: the pack is in place and the entry comes back.
        ready = wait_for(lambda: pack_right(launch) and repair_entry(ctx)[0] == "enabled", 180, 1.0)
        if not ctx.results.check(group, "EntryEnabledOnceTheRunsHaveEnded", ready, "" if ready else repair_entry(ctx)[1]):
            return
    finally:
        launch.stop()
    wait_for(lambda: ctx.screen.facts() is None, 30, 0.5)

    flip_byte(pack_path(launch), REPAIR_PACK_SIZE // 2 + 12345)
    launch = Launch(ctx, "repair", exe, ["/repair"], again=True)
    try:
        if not ctx.results.check(group, "WindowComesUpWithRepair", launch.wait_skinned(ctx.bg_size) is not None, ""):
            return
        repaired = wait_for(lambda: pack_right(launch), 180, 1.0)
        ctx.results.check(group, "RepairRestoresTheFlippedByte", repaired,
                          "" if repaired else "\n".join(launch.debug()[-8:]))
        panel = p["picLogin"]
        wait_for(lambda: matches(launch.region(ctx.screen.shot(), (x, y, w, h)), done)[0] and
                 matches(launch.region(ctx.screen.shot(), panel), layered(ctx, LOGIN_LAYERS, panel))[0], 120, 1.0)
        shot = ctx.screen.shot()
        check_region(ctx, group, "StatusLineShowsTheEndText", launch.region(shot, (x, y, w, h)), done, wrong=intact)
        check_region(ctx, group, "LoginLookAfterTheRepair", launch.region(shot, panel),
                     layered(ctx, LOGIN_LAYERS, panel), wrong=layered(ctx, [], panel))
        enabled = wait_for(lambda: repair_entry(ctx)[0] == "enabled", 30, 1.0)
        ctx.results.check(group, "EntryEnabledAfterTheRepair", enabled, "" if enabled else repair_entry(ctx)[1])
        # A second start with /repair hands the request to this launcher.
        flip_byte(pack_path(launch), 4321)
        second = ctx.wine.start([launch.exe, "/repair"], launch.folder, os.path.join(launch.folder, "second.log"))
        try:
            code = second.wait(timeout=60)
        except subprocess.TimeoutExpired:
            code = None
        harness.Wine.stop(second)
        repaired = wait_for(lambda: pack_right(launch), 120, 1.0)
        ctx.results.check(group, "ASecondStartWithRepairRepairsInTheRunningLauncher",
                          code == 0 and repaired and launch.proc.poll() is None,
                          "second start exit %s, pack right %s" % (code, bool(repaired)))
    finally:
        launch.stop()


CASES = {"startup": case_startup, "skiplink": case_skip_link, "badpackages": case_bad_packages,
         "selfupdate": case_self_update, "repair": case_repair}


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--build", required=True)
    parser.add_argument("--update-root", required=True)
    parser.add_argument("--port-base", type=int, required=True)
    parser.add_argument("--results", required=True)
    parser.add_argument("--only", default=",".join(CASES), help="cases to run: " + ",".join(CASES))
    parser.add_argument("--exclude", default="", help="checks left out of the results: Group.Name,...")
    args = parser.parse_args()
    ctx = Context(args)
    try:
        set_up(ctx)
        for name in args.only.split(","):
            try:
                CASES[name](ctx)
            except Exception as exc:
                traceback.print_exc()
                ctx.results.error(name, "RanToTheEnd", exc)
    except Exception as exc:  # the set-up failing fails the run visibly
        traceback.print_exc()
        ctx.results.error("SetUp", "PackAndPublish", exc)
    finally:
        ctx.wine.end_server()
    ctx.results.write(args.results)
    print("%d checks, %d failed" % (len(ctx.results.cases), ctx.results.failed()))
    return 1 if ctx.results.failed() else 0


if __name__ == "__main__":
    sys.exit(main())

"""What the name-lookup and directory rows share: the campaign's environment,
the row lines, the real peers they start (nginx and dnsmasq through their
scripts in tests/peers, the directory service tool), releases published with
the manifest tool, and file-tree snapshots for "nothing was written"."""
import hashlib
import os
import random
import socket
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
TOP = os.path.dirname(HERE)
PEERS = os.path.join(TOP, "tests", "peers")
WINE_RUN = os.path.join(TOP, "scripts", "wine-run")


class Environment:
    """The variables the campaign hands every row script."""

    def __init__(self):
        def build(name, default):
            path = os.environ.get(name) or os.path.join(TOP, default)
            return os.path.abspath(path)
        self.native = build("FAULTS_NATIVE_BUILD", "build/native")
        self.win32 = build("FAULTS_WIN32_BUILD", "build/win32")
        self.base = int(os.environ.get("FAULTS_PORT_BASE") or 24000)
        self.reduced = os.environ.get("FAULTS_REDUCED") == "1"
        work = os.environ.get("FAULTS_WORK")
        if not work:
            work = tempfile.mkdtemp(prefix="faults-")
        self.work = os.path.abspath(work)
        os.makedirs(self.work, exist_ok=True)

    def path(self, *parts):
        return os.path.join(self.work, *parts)

    def tool(self, build, name):
        """A tool of a build: tools/NAME/NAME (".exe" in the Windows build)."""
        suffix = ".exe" if build == self.win32 else ""
        return os.path.join(build, "tools", name, name + suffix)


def stop_on_terminate():
    """A SIGTERM (the frame giving up on a script) ends the script through
    its finally blocks, so the peers it started are stopped."""
    import signal
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(143))


def cache_value(build, key):
    """A variable of the build's CMakeCache.txt, or None."""
    try:
        with open(os.path.join(build, "CMakeCache.txt"), encoding="utf-8", errors="replace") as f:
            for line in f:
                if line.startswith(key + ":"):
                    return line.split("=", 1)[1].strip()
    except OSError:
        return None
    return None


def log(text):
    """Everything but the rows goes to stderr (the frame's log)."""
    print(text, file=sys.stderr, flush=True)


def row(fault, tried, held, detail):
    """One row; `held` is True, False or the text "skipped"."""
    clean = [str(x).replace("\t", " ").replace("\n", " ") for x in (fault, tried, detail)]
    status = held if isinstance(held, str) else ("held" if held else "BROKEN")
    print("ROW\t%s\t%s\t%s\t%s" % (clean[0], clean[1], status, clean[2]), flush=True)
    return held is True


def run(args, timeout=300, check=True, **kw):
    result = subprocess.run(args, stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=timeout, **kw)
    if check and result.returncode != 0:
        raise RuntimeError("%s failed (%d): %s" % (os.path.basename(args[0]), result.returncode,
                                                   result.stderr.decode(errors="replace")[-600:]))
    return result


def winpath(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def udp_port_free(port, address="127.0.0.1"):
    s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    try:
        s.bind((address, port))
        return True
    except OSError:
        return False
    finally:
        s.close()


# ---------------------------------------------------------------- peers

class PeerScript:
    """A peer of tests/peers (start|stop STATE_DIR PORT_BASE); stop() is
    safe to call more than once and on every exit path."""

    def __init__(self, name, state, base):
        self.script = os.path.join(PEERS, name + ".peer")
        self.state, self.base = state, base
        self.running = False

    def start(self):
        os.makedirs(self.state, exist_ok=True)
        run(["bash", self.script, "start", self.state, str(self.base)], timeout=120)
        self.running = True
        return self

    def stop(self):
        if self.running:
            run(["bash", self.script, "stop", self.state, str(self.base)], timeout=60, check=False)
            self.running = False

    def __enter__(self):
        return self.start()

    def __exit__(self, *exc):
        self.stop()


def update_server(env, state, port):
    """nginx serving STATE/www on 127.0.0.1:port and 127.0.0.9:port (the
    update server peer, whose own port is its base + 5)."""
    return PeerScript("updateserver", state, port - 5)


def dns_peer(state, dns_port):
    """dnsmasq on 127.0.0.1:dns_port; it answers 127.0.0.9 for
    single.launcher.test and knows no other name outside launcher.test."""
    return PeerScript("dnsmasq", state, dns_port - 10)


class DirectoryTool:
    """The real directory service tool of a native build on 127.0.0.1."""

    def __init__(self, env, servers_file, port, log_path):
        self.args = [env.tool(env.native, "directory-service"), "--servers", servers_file,
                     "--bind", "127.0.0.1", "--port", str(port)]
        self.port, self.log_path = port, log_path
        self.proc = None

    def start(self, game_id):
        self.log_file = open(self.log_path, "ab")
        self.proc = subprocess.Popen(self.args, stdin=subprocess.DEVNULL, stdout=self.log_file,
                                     stderr=subprocess.STDOUT)
        deadline = time.time() + 20
        while time.time() < deadline:
            if self.proc.poll() is not None:
                break
            if request_reply(self.port, game_id, 0.3):
                return self
        self.stop()
        raise RuntimeError("directory-service did not answer on %d" % self.port)

    def stop(self):
        if self.proc is not None:
            if self.proc.poll() is None:
                self.proc.terminate()
                try:
                    self.proc.wait(timeout=10)
                except subprocess.TimeoutExpired:
                    self.proc.kill()
                    self.proc.wait()
            self.proc = None
            self.log_file.close()


def request_reply(port, game_id, wait):
    """The datagrams a directory service on 127.0.0.1:port sends for one
    request (the 16-byte GetServerList frame), joined; b"" when none."""
    import struct
    s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    try:
        s.bind(("127.0.0.1", 0))
        s.sendto(struct.pack("<HHHHII", 0x55AA, 1, 0, 8, game_id, 1), ("127.0.0.1", port))
        data = b""
        s.settimeout(wait)
        while True:
            try:
                data += s.recvfrom(65536)[0]
            except (socket.timeout, ConnectionRefusedError):
                return data
            s.settimeout(0.3)
    finally:
        s.close()


# ---------------------------------------------------------------- releases

def make_release(folder, sizes, seed):
    """Files of pseudo-random bytes: {relative path: size}; returns
    {relative path: md5}."""
    rng = random.Random(seed)
    digests = {}
    for path, size in sizes.items():
        full = os.path.join(folder, path)
        os.makedirs(os.path.dirname(full), exist_ok=True)
        data = rng.randbytes(size)
        with open(full, "wb") as f:
            f.write(data)
        digests[path] = hashlib.md5(data).hexdigest()
    return digests


def publish(env, release, target, name="update.json"):
    run([env.tool(env.native, "launcher-manifest"), release, target, "--name", name])


def md5_of(path):
    h = hashlib.md5()
    with open(path, "rb") as f:
        for block in iter(lambda: f.read(1 << 20), b""):
            h.update(block)
    return h.hexdigest()


def wrong_files(folder, digests):
    """Paths of `digests` whose file in `folder` is missing or differs."""
    wrong = []
    for path, digest in digests.items():
        full = os.path.join(folder, path)
        if not os.path.isfile(full) or md5_of(full) != digest:
            wrong.append(path)
    return wrong


def snapshot(folder, leave_out=()):
    """{relative path: (size, mtime_ns, md5)} of every file below folder."""
    files = {}
    for root, _, names in os.walk(folder):
        for name in names:
            full = os.path.join(root, name)
            rel = os.path.relpath(full, folder)
            if rel in leave_out:
                continue
            st = os.stat(full)
            files[rel] = (st.st_size, st.st_mtime_ns, md5_of(full))
    return files


def changed(before, after):
    return sorted(set(before) ^ set(after) | {p for p in before if p in after and before[p] != after[p]})

"""quorveld's HTTP door against hostile and careless clients (bench/run, section 6).

The real quorveld under quorvel-sim, any build of it (so that two builds
compare by the same method), with an HTTP listener (a password file of the
default 600,000 rounds), an ASCII and a UECP TCP listener, all on 127.0.0.1.
Clients come from loopback addresses 127.0.0.x. Measures only; checks nothing.

  flood     1,000 connections opened from 100 addresses and left idle, 16 more
            that send a header line every 2 s (reopened when closed): a new
            client's GET /api/v1/status, ASCII and UECP round trips, and the
            daemon's resident memory, against the same without them;
  headers   8 connections that each send a request head of many 90-byte lines:
            the resident memory during and after;
  patch     a PATCH on a kept-alive connection: from its send to its reply;
  login     an authenticated poll (GET /metrics with the password) on a
            kept-alive connection, alone and while 16 clients guess passwords,
            with a new client's status and the daemon's CPU meanwhile.
"""

import base64
import os
import re
import resource
import select
import signal
import socket
import statistics
import struct
import subprocess
import threading
import time

PASSWORD = "right horse battery"


def ms(seconds):
    return seconds * 1000.0


def summary(samples, unanswered=0):
    """Median, 90th percentile and max in ms; `unanswered` requests got nothing."""
    if not samples:
        return {"count": 0, "unanswered": unanswered}
    ordered = sorted(samples)
    rank = lambda p: ordered[max(int(-(-p * len(ordered) // 1)), 1) - 1]
    return {"count": len(ordered), "median": statistics.median(ordered), "p90": rank(0.9),
            "max": ordered[-1], "unanswered": unanswered}


def status_of(pid):
    with open(f"/proc/{pid}/status") as f:
        fields = dict(line.rstrip("\n").split(":\t", 1) for line in f if ":\t" in line)
    return int(fields["VmRSS"].split()[0]), int(fields["VmHWM"].split()[0])


def cpu_seconds(pid):
    with open(f"/proc/{pid}/stat") as f:
        parts = f.read().rsplit(")", 1)[1].split()
    return (int(parts[11]) + int(parts[12])) / os.sysconf("SC_CLK_TCK")


def connect(port, source="127.0.0.1", timeout=10.0):
    s = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    s.settimeout(timeout)
    s.bind((source, 0))
    s.connect(("127.0.0.1", port))
    s.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
    return s


def read_reply(s):
    """One HTTP reply off a socket: its status, or None when none came."""
    data = b""
    while b"\r\n\r\n" not in data:
        chunk = s.recv(65536)
        if not chunk:
            return None
        data += chunk
    head, _, body = data.partition(b"\r\n\r\n")
    length = re.search(rb"(?i)\r\ncontent-length: *(\d+)", head)
    want = int(length.group(1)) if length else 0
    while len(body) < want:
        chunk = s.recv(65536)
        if not chunk:
            return None
        body += chunk
    return int(head.split(b" ", 2)[1])


def request(method, path, port, body=b"", auth=None, keep=True):
    lines = [f"{method} {path} HTTP/1.1", f"Host: 127.0.0.1:{port}"]
    if body:
        lines += ["Content-Type: application/json", f"Content-Length: {len(body)}"]
    if auth:
        lines.append("Authorization: Basic " + base64.b64encode(auth.encode()).decode())
    if not keep:
        lines.append("Connection: close")
    return ("\r\n".join(lines) + "\r\n\r\n").encode() + body


class Kept:
    """A kept-alive connection, opened again when the daemon closes it (the
    build before closed one after its 10th request)."""

    def __init__(self, port, timeout=30):
        self.port, self.timeout = port, timeout
        self.s = connect(port, timeout=timeout)

    def ask(self, data):
        """Seconds from the send to the whole reply, and the reply's status."""
        for _ in range(2):
            try:
                took, status = timed(lambda: (self.s.sendall(data), read_reply(self.s))[1])
            except OSError:
                status = None
            if status is not None:
                return took, status
            self.s.close()
            self.s = connect(self.port, timeout=self.timeout)
        raise RuntimeError("no reply on a new connection either")

    def close(self):
        self.s.close()


def timed(action):
    began = time.perf_counter()
    ok = action()
    return time.perf_counter() - began, ok


def new_status(port, source="127.0.0.200", timeout=10.0):
    """A new client's GET /api/v1/status: seconds, or None for no answer."""
    try:
        with connect(port, source, timeout) as s:
            took, status = timed(lambda: (s.sendall(request("GET", "/api/v1/status", port, keep=False)),
                                          read_reply(s))[1])
            return took if status == 200 else None
    except OSError:
        return None


def crc_genibus(data):
    crc = 0xFFFF
    for byte in data:
        crc ^= byte << 8
        for _ in range(8):
            crc = ((crc << 1) ^ 0x1021 if crc & 0x8000 else crc << 1) & 0xFFFF
    return crc ^ 0xFFFF


def uecp_frame(message, sequence):
    body = bytes([0, 0, sequence & 0xFF, len(message)]) + message
    body += struct.pack(">H", crc_genibus(body))
    stuffed = body.replace(b"\xFD", b"\xFD\x00").replace(b"\xFE", b"\xFD\x01").replace(b"\xFF", b"\xFD\x02")
    return b"\xFE" + stuffed + b"\xFF"


class Clients:
    """An ASCII and a UECP client, each on its own kept connection."""

    def __init__(self, ascii_port, uecp_port):
        self.ascii = connect(ascii_port)
        self.uecp = connect(uecp_port)
        self.sequence = 1
        self.uecp.sendall(uecp_frame(b"\x2C\x01", self.sequence))  # an acknowledgement per frame
        self.read_frame()

    def read_frame(self):
        data = b""
        while not data.endswith(b"\xFF"):
            chunk = self.uecp.recv(256)
            if not chunk:
                raise OSError("the UECP connection closed")
            data += chunk

    def ascii_round_trip(self, k):
        def run():
            self.ascii.sendall(f"PTY={k % 2 + 1}\r\n".encode())
            reply = b""
            while not reply.endswith(b"\r\n"):
                reply += self.ascii.recv(64)
            return True
        return timed(run)[0]

    def uecp_round_trip(self, k):
        self.sequence = self.sequence % 255 + 1
        frame = uecp_frame(bytes([0x07, 0, 0, k % 2 + 3]), self.sequence)
        return timed(lambda: (self.uecp.sendall(frame), self.read_frame()))[0]

    def close(self):
        self.ascii.close()
        self.uecp.close()


class Daemon:
    """quorveld (the binary given) under quorvel-sim, with the listeners above."""

    def __init__(self, quorveld, sim, workdir, env):
        self.err = os.path.join(workdir, "stderr")
        password_file = os.path.join(workdir, "passwords")
        line = subprocess.run([quorveld, "--hash-password", "ops"], input=PASSWORD + "\n", text=True,
                              stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, check=True).stdout
        with open(password_file, "w") as f:
            f.write(line.strip().splitlines()[-1] + "\n")
        command = [sim, "--", quorveld, "--verify", "0", "--http", "127.0.0.1:0", "--ascii-tcp",
                   "127.0.0.1:0", "--uecp-tcp", "127.0.0.1:0", "--http-password-file", password_file]

        def descriptors():  # what a service gets without LimitNOFILE=
            resource.setrlimit(resource.RLIMIT_NOFILE, (1024, resource.getrlimit(resource.RLIMIT_NOFILE)[1]))

        with open(self.err, "w") as err:
            self.process = subprocess.Popen(command, env=env, stdin=subprocess.DEVNULL,
                                            stdout=subprocess.DEVNULL, stderr=err, preexec_fn=descriptors)
        deadline = time.monotonic() + 15
        while "quorveld: ready" not in self.log():
            if time.monotonic() > deadline or self.process.poll() is not None:
                self.stop()
                raise RuntimeError("quorveld did not start:\n" + self.log())
            time.sleep(0.05)
        time.sleep(0.5)  # the board's load
        with open(f"/proc/{self.process.pid}/task/{self.process.pid}/children") as f:
            self.pid = int(f.read().split()[0])
        self.http = self.port(r"http://127\.0\.0\.1:(\d+)")
        self.ascii = self.port(r"ascii-tcp 127\.0\.0\.1:(\d+)")
        self.uecp = self.port(r"uecp-tcp 127\.0\.0\.1:(\d+)")

    def log(self):
        with open(self.err, errors="replace") as f:
            return f.read()

    def port(self, pattern):
        return int(re.search("listening on " + pattern, self.log()).group(1))

    def stop(self):
        self.process.send_signal(signal.SIGTERM)
        try:
            self.process.wait(timeout=15)
        except subprocess.TimeoutExpired:
            self.process.kill()
            self.process.wait()


def quiet_figures(daemon, clients, rounds):
    status, ascii_, uecp = [], [], []
    for k in range(rounds):
        took = new_status(daemon.http)
        if took is not None:
            status.append(ms(took))
        ascii_.append(ms(clients.ascii_round_trip(k)))
        uecp.append(ms(clients.uecp_round_trip(k)))
    return {"status_ms": summary(status, rounds - len(status)), "ascii_ms": summary(ascii_),
            "uecp_ms": summary(uecp)}


class Dribblers(threading.Thread):
    """Clients that send a request head one line every 2 s, reopened when closed."""

    def __init__(self, port, count):
        super().__init__(daemon=True)
        self.port, self.count = port, count
        self.stopping = threading.Event()
        self.reopened = 0

    def open(self, k):
        try:
            s = connect(self.port, f"127.0.0.{101 + k}")
            s.sendall(b"GET /api/v1/status HTTP/1.1\r\n")
            return s
        except OSError:
            return None

    def run(self):
        sockets = [self.open(k) for k in range(self.count)]
        line = 0
        while not self.stopping.wait(2.0):
            line += 1
            for k, s in enumerate(sockets):
                try:
                    if s is None:
                        raise OSError
                    s.sendall(f"X-Dribble-{line}: {'x' * 60}\r\n".encode())
                except OSError:
                    if s is not None:
                        s.close()
                    sockets[k] = self.open(k)
                    self.reopened += 1
        for s in sockets:
            if s is not None:
                s.close()


def flood_figures(daemon, clients, seconds, idle_count, dribbling):
    rss_before, _ = status_of(daemon.pid)
    idle, opened = [], 0
    for k in range(idle_count):
        try:
            idle.append(connect(daemon.http, f"127.0.0.{1 + k % 100}", timeout=2))
            opened += 1
        except OSError:
            pass
    dribblers = Dribblers(daemon.http, dribbling)
    dribblers.start()
    time.sleep(0.5)
    status, ascii_, uecp = [], [], []
    asked, k = 0, 0
    cpu_before, began = cpu_seconds(daemon.pid), time.monotonic()
    rss_peak = 0
    while time.monotonic() - began < seconds:
        asked += 1
        took = new_status(daemon.http)
        if took is not None:
            status.append(ms(took))
        ascii_.append(ms(clients.ascii_round_trip(k)))
        uecp.append(ms(clients.uecp_round_trip(k)))
        rss_peak = max(rss_peak, status_of(daemon.pid)[0])
        k += 1
        time.sleep(0.2)
    cpu = (cpu_seconds(daemon.pid) - cpu_before) / (time.monotonic() - began)
    # How many of the idle connections the daemon closed meanwhile.
    closed = 0
    for s in idle:
        s.setblocking(False)
        try:
            closed += s.recv(1) == b""
        except BlockingIOError:
            pass
        except OSError:
            closed += 1
    dribblers.stopping.set()
    dribblers.join()
    for s in idle:
        s.close()
    return {"connections": idle_count, "opened": opened, "closed_by_daemon": closed,
            "dribbling": dribbling, "dribblers_reopened": dribblers.reopened, "seconds": seconds,
            "status_ms": summary(status, asked - len(status)), "ascii_ms": summary(ascii_),
            "uecp_ms": summary(uecp), "rss_growth_kb": rss_peak - rss_before, "cpu": cpu}


def header_figures(daemon, lines, connections=8):
    rss_before, hwm_before = status_of(daemon.pid)
    line = b"X-Flood: " + b"v" * 79 + b"\r\n"  # 90 bytes

    def flood(k):
        with connect(daemon.http, f"127.0.0.{150 + k}", timeout=30) as s:
            try:
                s.sendall(b"GET /api/v1/status HTTP/1.1\r\nHost: 127.0.0.1\r\n")
                batch = line * 1000
                for _ in range(lines // 1000):
                    s.sendall(batch)
                s.sendall(b"\r\n")
            except OSError:
                pass  # closed before all was sent: what came back, if anything
            try:
                results[k] = str(read_reply(s))
            except OSError:
                results[k] = "None"

    results = [None] * connections
    threads = [threading.Thread(target=flood, args=(k,)) for k in range(connections)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    rss_during, hwm = status_of(daemon.pid)
    time.sleep(1.0)
    rss_after, _ = status_of(daemon.pid)
    return {"lines": lines, "connections": connections,
            "answers": [r.replace("None", "closed, no reply") for r in results],
            "hwm_growth_kb": hwm - hwm_before, "rss_after_growth_kb": rss_after - rss_before}


def patch_figures(daemon, rounds):
    auth = "ops:" + PASSWORD
    samples = []
    kept = Kept(daemon.http)
    for k in range(rounds + 1):
        body = f'{{"ram.pty": {k % 2 + 5}}}'.encode()
        took, status = kept.ask(request("PATCH", "/api/v1/fields", daemon.http, body, auth))
        if status != 202:
            raise RuntimeError(f"PATCH answered {status}")
        if k:  # the first pays the password check
            samples.append(ms(took))
    kept.close()
    return {"patch_ms": summary(samples)}


class Guessers(threading.Thread):
    def __init__(self, port, count):
        super().__init__(daemon=True)
        self.port, self.count = port, count
        self.stopping = threading.Event()
        self.answers = {}
        self.lock = threading.Lock()

    def guess(self, k):
        n = 0
        while not self.stopping.is_set():
            n += 1
            try:
                with connect(self.port, f"127.0.0.{50 + k}", timeout=30) as s:
                    s.sendall(request("PATCH", "/api/v1/fields", self.port, b'{"ram.pty": 1}',
                                      f"ops:guess {k} {n}", keep=False))
                    status = read_reply(s)
            except OSError:
                status = "closed"
            with self.lock:
                self.answers[str(status)] = self.answers.get(str(status), 0) + 1

    def run(self):
        threads = [threading.Thread(target=self.guess, args=(k,), daemon=True) for k in range(self.count)]
        for t in threads:
            t.start()
        self.stopping.wait()
        for t in threads:
            t.join(timeout=60)


def login_figures(daemon, rounds, seconds, guessing=16):
    auth = "ops:" + PASSWORD

    def polls(kept, count):
        samples = []
        for _ in range(count):
            took, status = kept.ask(request("GET", "/metrics", daemon.http, auth=auth))
            if status != 200:
                raise RuntimeError(f"GET /metrics answered {status}")
            samples.append(ms(took))
        return samples

    s = Kept(daemon.http)
    first = polls(s, 1)[0]
    alone = polls(s, rounds)
    guessers = Guessers(daemon.http, guessing)
    guessers.start()
    time.sleep(1.0)
    status, auth_polls, asked = [], [], 0
    cpu_before, began = cpu_seconds(daemon.pid), time.monotonic()
    while time.monotonic() - began < seconds:
        asked += 1
        took = new_status(daemon.http)
        if took is not None:
            status.append(ms(took))
        auth_polls += polls(s, 1)
        time.sleep(0.2)
    cpu = (cpu_seconds(daemon.pid) - cpu_before) / (time.monotonic() - began)
    guessers.stopping.set()
    guessers.join()
    s.close()
    return {"first_poll_ms": first, "poll_ms": summary(alone), "guessing": guessing,
            "guessed_poll_ms": summary(auth_polls), "guessed_status_ms": summary(status, asked - len(status)),
            "guessed_cpu": cpu, "guess_answers": guessers.answers}


def measure(quorveld, sim, workdir, env, smoke):
    """Every figure above for one build."""
    os.makedirs(workdir, exist_ok=True)
    results = {}
    soft, hard = resource.getrlimit(resource.RLIMIT_NOFILE)
    resource.setrlimit(resource.RLIMIT_NOFILE, (max(soft, min(hard, 8192)), hard))
    counts = dict(rounds=3, seconds=1.5, connections=100, dribbling=2, lines=2000) if smoke else \
        dict(rounds=30, seconds=12.0, connections=1000, dribbling=16, lines=100_000)
    for name in ("flood", "headers", "patch", "login"):
        daemon = Daemon(quorveld, sim, workdir, env)
        try:
            if name == "flood":
                clients = Clients(daemon.ascii, daemon.uecp)
                results["quiet"] = quiet_figures(daemon, clients, counts["rounds"])
                results["flood"] = flood_figures(daemon, clients, counts["seconds"], counts["connections"],
                                                 counts["dribbling"])
                clients.close()
            elif name == "headers":
                results["headers"] = header_figures(daemon, counts["lines"])
            elif name == "patch":
                results["patch"] = patch_figures(daemon, counts["rounds"] * 2)
            else:
                results["login"] = login_figures(daemon, counts["rounds"], counts["seconds"])
        finally:
            daemon.stop()
    return results


# The report ----------------------------------------------------------------------

HEADING = "## 6. quorveld's HTTP door under hostile and careless clients"
BEFORE_FILE = os.path.join(os.path.dirname(os.path.abspath(__file__)), "http-door-before.json")


def report(after, before, header_lines):
    """Section 6: each figure of `after` next to `before` (the same method on
    the build before the door moved onto the event loop), when there is one."""
    lines = [HEADING, ""]
    add = lines.append
    b = before or {}
    add(header_lines)
    add("")
    add("The real quorveld under quorvel-sim (`bench/http_door.py`), with an HTTP listener "
        "(a password file of the default 600,000 rounds), an ASCII and a UECP TCP listener, "
        "all on 127.0.0.1, 1,024 file descriptors (a service's default without "
        "`LimitNOFILE=`); clients from loopback addresses 127.0.0.x. *Before*: the build "
        "before the door moved onto the event loop (cpp-httplib on threads of its own), "
        f"measured the same way{' on ' + b['measured'] if b.get('measured') else ''}; "
        "*after*: this build. Times in ms; a request unanswered after 10 s counts as "
        "unanswered and not in the times.")
    add("")

    def ms_cell(r, key="median"):
        if not r or r.get("count", 0) == 0:
            return f"none answered ({r.get('unanswered', 0)} asked)" if r else "—"
        text = f"{r[key]:.2f}"
        if r.get("unanswered"):
            text += f" ({r['unanswered']} unanswered)"
        return text

    def row(label, get, goal=""):
        def value(results):
            try:
                return get(results)
            except (KeyError, TypeError):
                return "—"
        add(f"| {label} | {value(b) if b else '—'} | {value(after)} | {goal} |")

    f = after["flood"]
    add(f"### {f['connections']:,} idle connections from 100 addresses, {f['dribbling']} dribbling")
    add("")
    add(f"{f['connections']:,} connections opened from 127.0.0.1–100 ({f['connections'] // 100} "
        f"each) and left silent, and {f['dribbling']} from 127.0.0.101–{100 + f['dribbling']} that send "
        "a request line, then a header line every 2 s (opened again when closed), held for "
        f"{f['seconds']:.0f} s. Meanwhile, every 0.2 s: a new client (127.0.0.200) asks "
        "`GET /api/v1/status`, an ASCII client sends `PTY=N` and waits for `+`, a UECP client "
        "(acknowledgements on) sends a PTY frame and waits for its acknowledgement, each on "
        "its own kept connection. *Quiet*: the same three without the crowd.")
    add("")
    add("| figure | before | after | goal |")
    add("|---|---:|---:|---|")
    row("status from a new client, quiet: median", lambda r: ms_cell(r["quiet"]["status_ms"]))
    row("status from a new client, in the crowd: median", lambda r: ms_cell(r["flood"]["status_ms"]),
        "under 50 ms")
    row("… 90th percentile / max", lambda r: ms_cell(r["flood"]["status_ms"], "p90") + " / " +
        ms_cell(r["flood"]["status_ms"], "max"))
    row("ASCII round trip, quiet → in the crowd: median",
        lambda r: f"{r['quiet']['ascii_ms']['median']:.2f} → {r['flood']['ascii_ms']['median']:.2f}",
        "no change")
    row("UECP round trip, quiet → in the crowd: median",
        lambda r: f"{r['quiet']['uecp_ms']['median']:.2f} → {r['flood']['uecp_ms']['median']:.2f}",
        "no change")
    row("resident memory grown (MB)", lambda r: f"{r['flood']['rss_growth_kb'] / 1024:.1f}",
        "under 20 MB")
    row("idle connections closed by the daemon meanwhile",
        lambda r: f"{r['flood']['closed_by_daemon']:,} of {r['flood']['opened']:,}")
    row("dribblers reopened after the daemon closed them",
        lambda r: f"{r['flood']['dribblers_reopened']}")
    row("the daemon's CPU (cores)", lambda r: f"{r['flood']['cpu']:.2f}")
    add("")

    h = after["headers"]
    add("### A flood of header lines")
    add("")
    add(f"{h['connections']} connections each send a request head of {h['lines']:,} header "
        "lines of 90 bytes, then wait for the answer.")
    add("")
    add("| figure | before | after | goal |")
    add("|---|---:|---:|---|")
    row("answers", lambda r: ", ".join(sorted(set(r["headers"]["answers"]))), "431")
    row("peak resident memory grown (MB)", lambda r: f"{r['headers']['hwm_growth_kb'] / 1024:.1f}")
    row("resident memory grown, 1 s after they closed (MB)",
        lambda r: f"{r['headers']['rss_after_growth_kb'] / 1024:.1f}")
    add("")

    add("### A reply on a kept-alive connection")
    add("")
    add("`PATCH /api/v1/fields` of `ram.pty` (authenticated), one after the other on one "
        "kept-alive connection with `TCP_NODELAY` on the client's side: from the send to the "
        "whole reply, the first (which pays the password check) left out. The station's work "
        "for it (checking the value, handing it to the board worker) takes microseconds; the "
        "reply does not wait for the board.")
    add("")
    add("| figure | before | after | goal |")
    add("|---|---:|---:|---|")
    row("PATCH reply: median", lambda r: ms_cell(r["patch"]["patch_ms"]), "under 1 ms")
    row("… 90th percentile / max", lambda r: ms_cell(r["patch"]["patch_ms"], "p90") + " / " +
        ms_cell(r["patch"]["patch_ms"], "max"))
    add("")

    lg = after["login"]
    add("### Logins: an authenticated poll, and password guessers")
    add("")
    add("A client polls `GET /metrics` with the right password on one kept-alive connection; "
        f"then {lg['guessing']} clients (127.0.0.50–{49 + lg['guessing']}) each send a `PATCH` "
        "with a wrong password on a new connection, one after the other as fast as they are "
        "answered, while the poll goes on and a new client asks for the status every 0.2 s.")
    add("")
    add("| figure | before | after | goal |")
    add("|---|---:|---:|---|")
    row("first authenticated poll (a key derivation)", lambda r: f"{r['login']['first_poll_ms']:.1f}")
    row("authenticated poll after it: median", lambda r: ms_cell(r["login"]["poll_ms"]))
    row("authenticated poll among guessers: median", lambda r: ms_cell(r["login"]["guessed_poll_ms"]))
    row("status from a new client among guessers: median",
        lambda r: ms_cell(r["login"]["guessed_status_ms"]), "as when quiet")
    row("… max", lambda r: ms_cell(r["login"]["guessed_status_ms"], "max"))
    row("the daemon's CPU among guessers (cores)", lambda r: f"{r['login']['guessed_cpu']:.2f}")
    row("the guessers' answers", lambda r: ", ".join(
        f"{status}: {count:,}" for status, count in sorted(r["login"]["guess_answers"].items())))
    add("")
    return "\n".join(lines)

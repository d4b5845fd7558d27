#!/usr/bin/env python3
"""quorveld against hostile and careless clients, the real program under
quorvel-sim over loopback; prints one JSON object of figures.

  eeprom     EEPROM writes the board received for 1,000 alternating `*PS=`
             lines, 10 s of alternating UECP PI datagrams, and 100 alternating
             HTTP PATCHes of eeprom.pi
  flood      EEPROM writes per minute of one field under an alternating
             `*PS=` flood (the daily budget set out of the way)
  rt-buffer  resident memory after appended UECP RadioTexts, and after a
             flushing one
  udp        the sizes of UDP replies to small datagrams, and whether a TCP
             client gets acknowledgements another client's mode asked for
  tcp        connections one address may hold, log lines for refused
             connections, and whether dribbled bytes keep a client alive
  accept     the CPU quorveld takes over 2 s with 48 descriptors and 60
             connections waiting at its ASCII listener

--daemon and --sim name the programs (a build's by default), so that one
method measures a build before and after a change.
"""
import argparse
import json
import os
import re
import resource
import socket
import subprocess
import sys
import tempfile
import time
import urllib.request

EEPROM_CODES = {0x02, 0x03} | set(range(0x61, 0x6B)) | set(range(0x70, 0x80))


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def crc16(data):
    crc = 0xFFFF
    for byte in data:
        crc ^= byte << 8
        for _ in range(8):
            crc = (crc << 1) ^ 0x1021 if crc & 0x8000 else crc << 1
            crc &= 0xFFFF
    return crc ^ 0xFFFF


def uecp_frame(msg, sqc=0):
    body = bytes([0, 0, sqc, len(msg)]) + bytes(msg)
    body += crc16(body).to_bytes(2, "big")
    stuffed = bytearray()
    for b in body:
        stuffed += {0xFD: b"\xfd\x00", 0xFE: b"\xfd\x01", 0xFF: b"\xfd\x02"}.get(b, bytes([b]))
    return b"\xfe" + bytes(stuffed) + b"\xff"


class Daemon:
    def __init__(self, args, extra, files=None, env=None):
        self.dir = tempfile.mkdtemp(prefix="quorveld-hostile-")
        self.log = os.path.join(self.dir, "requests.log")
        self.stderr = open(os.path.join(self.dir, "daemon.log"), "w+")
        self.ports = {k: free_port() for k in ("ascii", "uecp", "http")}
        command = [args.sim, "--log", self.log, "--", args.daemon,
                   "--ascii-tcp", f"127.0.0.1:{self.ports['ascii']}",
                   "--ascii-udp", f"127.0.0.1:{self.ports['ascii']}",
                   "--uecp-tcp", f"127.0.0.1:{self.ports['uecp']}",
                   "--uecp-udp", f"127.0.0.1:{self.ports['uecp']}",
                   "--http", f"127.0.0.1:{self.ports['http']}",
                   "--state", os.path.join(self.dir, "state.json")] + extra
        limit = (lambda: resource.setrlimit(resource.RLIMIT_NOFILE, (files, files))) if files \
            else None
        self.process = subprocess.Popen(command, stderr=self.stderr, stdout=subprocess.DEVNULL,
                                        preexec_fn=limit, env=env)
        deadline = time.monotonic() + 30
        while time.monotonic() < deadline:
            try:
                if "present" in self.status()["board"]:
                    return
            except OSError:
                pass
            time.sleep(0.05)
        raise RuntimeError("quorveld did not start: " + self.log_text())

    def pid(self):
        """quorveld's own process id (quorvel-sim runs it as a child)."""
        out = subprocess.run(["pgrep", "-P", str(self.process.pid)], capture_output=True,
                             text=True).stdout.split()
        return int(out[0]) if out else self.process.pid

    def rss_kb(self):
        with open(f"/proc/{self.pid()}/status") as f:
            return int(re.search(r"VmRSS:\s+(\d+)", f.read()).group(1))

    def status(self):
        url = f"http://127.0.0.1:{self.ports['http']}/api/v1/status"
        with urllib.request.urlopen(url, timeout=5) as r:
            return json.load(r)

    def patch(self, body):
        request = urllib.request.Request(
            f"http://127.0.0.1:{self.ports['http']}/api/v1/fields", data=json.dumps(body).encode(),
            method="PATCH", headers={"Content-Type": "application/json"})
        try:
            with urllib.request.urlopen(request, timeout=5) as r:
                return r.status
        except urllib.error.HTTPError as e:
            return e.code

    def settle(self, timeout=30):
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline and self.status()["pending_writes"] > 0:
            time.sleep(0.05)

    def requests(self):
        with open(self.log) as f:
            return [int(line.split()[0], 16) for line in f if line.startswith("0x")]

    def eeprom_writes(self):
        return sum(1 for code in self.requests() if code in EEPROM_CODES)

    def log_text(self):
        self.stderr.flush()
        self.stderr.seek(0)
        return self.stderr.read()

    def stop(self):
        self.process.terminate()
        try:
            self.process.wait(10)
        except subprocess.TimeoutExpired:
            self.process.kill()
            self.process.wait()


def tcp_lines(port, lines, read=True):
    with socket.create_connection(("127.0.0.1", port), timeout=10) as s:
        s.sendall("".join(line + "\r\n" for line in lines).encode())
        s.shutdown(socket.SHUT_WR)
        data = b""
        while read:
            chunk = s.recv(65536)
            if not chunk:
                break
            data += chunk
    return data.decode("latin-1").split("\r\n")[:-1]


def eeprom(args):
    out = {}
    d = Daemon(args, args.extra)
    try:
        before = d.eeprom_writes()
        replies = []
        with socket.create_connection(("127.0.0.1", d.ports["ascii"]), timeout=10) as s:
            for i in range(1000):  # each line after the reply to the one before
                s.sendall(f"*PS={'ONE' if i % 2 else 'TWO'}\r\n".encode())
                replies.append(s.recv(64).decode("latin-1").strip())
        d.settle()
        out["ps_lines"] = {"writes": d.eeprom_writes() - before,
                           "replies": {r: replies.count(r) for r in sorted(set(replies))}}

        before = d.eeprom_writes()
        udp = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        sent, end = 0, time.monotonic() + args.seconds
        while time.monotonic() < end:
            pi = 0xC201 + sent % 2
            udp.sendto(uecp_frame([0x01, 0, 0, pi >> 8, pi & 0xFF]), ("127.0.0.1", d.ports["uecp"]))
            sent += 1
            if sent % 64 == 0:
                time.sleep(0.001)
        d.settle()
        out["uecp_pi"] = {"seconds": args.seconds, "datagrams": sent,
                          "writes": d.eeprom_writes() - before}

        before = d.eeprom_writes()
        codes = [d.patch({"eeprom.pi": "D3A1" if i % 2 else "D3A2"}) for i in range(100)]
        d.settle()
        out["http_pi"] = {"writes": d.eeprom_writes() - before,
                          "answers": {str(c): codes.count(c) for c in sorted(set(codes))}}
    finally:
        d.stop()
    return out


def flood(args, env=None):
    d = Daemon(args, args.extra, env=env)
    try:
        start = time.monotonic()
        writes_at = []
        seen = len(d.requests())
        with socket.create_connection(("127.0.0.1", d.ports["ascii"]), timeout=10) as s:
            i = 0
            while time.monotonic() - start < args.seconds:
                s.sendall(f"*PS={'ONE' if i % 2 else 'TWO'}\r\n".encode())
                s.recv(64)
                i += 1
                if i % 50 == 0:
                    codes = d.requests()
                    writes_at += [time.monotonic() - start for c in codes[seen:] if c == 0x61]
                    seen = len(codes)
        codes = d.requests()
        writes_at += [time.monotonic() - start for c in codes[seen:] if c == 0x61]
        minutes = args.seconds / 60
        return {"seconds": args.seconds, "lines": i,
                "eeprom_ps_passes": len(writes_at),
                "per_minute": round(len(writes_at) / minutes, 2)}
    finally:
        d.stop()


def rt_buffer(args):
    d = Daemon(args, args.extra)
    try:
        before = d.rss_kb()
        with socket.create_connection(("127.0.0.1", d.ports["uecp"]), timeout=10) as s:
            batch = b""
            for i in range(args.count):  # one-way: nothing answered
                text = f"Appended text {i:07d}".encode()
                batch += uecp_frame([0x0A, 0, 0, len(text) + 1, 0x40 | 0x01] + list(text))
                if len(batch) > 60000 or i == args.count - 1:
                    s.sendall(batch)
                    batch = b""
            # taken once the daemon answers a query on another connection
            tcp_lines(d.ports["ascii"], ["STATUS?"])
            time.sleep(1)
            after = d.rss_kb()
            s.sendall(uecp_frame([0x0A, 0, 0, 5, 0x00] + list(b"Last")))
            time.sleep(1)
            flushed = d.rss_kb()
        return {"appended": args.count, "rss_kb_before": before, "rss_kb_after": after,
                "rss_kb_after_flush": flushed}
    finally:
        d.stop()


def udp(args):
    d = Daemon(args, args.extra)
    out = {}
    try:
        s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)  # one peer throughout
        s.settimeout(1)

        def exchange(port, payload):
            s.sendto(payload, ("127.0.0.1", port))
            try:
                return len(s.recvfrom(65536)[0])
            except socket.timeout:
                return 0

        out["ascii_query_all"] = {"request": 2, "reply": exchange(d.ports["ascii"], b"??")}
        exchange(d.ports["uecp"], uecp_frame([0x2C, 2]))  # two-way, then a 1-byte datagram
        out["uecp_one_byte"] = {"request": 1, "reply": exchange(d.ports["uecp"], b"\x00")}
        s.close()
        with socket.create_connection(("127.0.0.1", d.ports["uecp"]), timeout=2) as t:
            t.sendall(uecp_frame([0x07, 0, 0, 5]))  # a TCP client that never asked for replies
            t.settimeout(1)
            try:
                got = len(t.recv(4096))
            except socket.timeout:
                got = 0
        out["tcp_client_unasked_ack_bytes"] = got
    finally:
        d.stop()
    return out


def tcp(args):
    d = Daemon(args, args.extra)
    out = {}
    try:
        lines_before = d.log_text().count("\n")
        held = []
        for _ in range(80):
            s = socket.create_connection(("127.0.0.1", d.ports["ascii"]), timeout=2)
            held.append(s)
        time.sleep(0.5)
        alive = 0
        for s in held:
            try:
                s.sendall(b"PTY?\r\n")
                s.settimeout(2)
                alive += 1 if s.recv(64) else 0
            except OSError:
                pass
        out["one_address_slots"] = alive
        for _ in range(args.connects):
            try:
                c = socket.create_connection(("127.0.0.1", d.ports["ascii"]), timeout=2)
                c.close()
            except OSError:
                pass
        time.sleep(11)  # a count held back goes out after 10 quiet seconds
        out["refused_connects"] = 80 - alive + args.connects
        out["log_lines"] = d.log_text().count("\n") - lines_before
        for s in held:
            s.close()
    finally:
        d.stop()
    idle = Daemon(args, args.extra + ["--idle-timeout", "2"] if args.idle_option else args.extra)
    try:
        s = socket.create_connection(("127.0.0.1", idle.ports["ascii"]), timeout=2)
        end = time.monotonic() + 5
        closed = False
        while time.monotonic() < end and not closed:
            try:
                s.sendall(b"P")  # never a complete line
            except OSError:
                closed = True
            time.sleep(0.5)
        out["dribbler_closed_within_5s"] = closed
    finally:
        idle.stop()
    return out


def accept(args):
    d = Daemon(args, args.extra, files=48)
    try:
        crowd = [socket.create_connection(("127.0.0.1", d.ports["ascii"]), timeout=2)
                 for _ in range(60)]
        time.sleep(1)

        def cpu():
            with open(f"/proc/{d.pid()}/stat") as f:
                fields = f.read().rsplit(")", 1)[1].split()
            return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")

        before = cpu()
        time.sleep(2)
        used = cpu() - before
        for c in crowd:
            c.close()
        return {"connections": len(crowd), "cpu_s_in_2s": round(used, 2),
                "log_lines": d.log_text().count("\n")}
    finally:
        d.stop()


HEADING = "## 7. The EEPROM under an alternating flood"
BEFORE_FILE = os.path.join(os.path.dirname(os.path.abspath(__file__)), "eeprom-flood-before.json")


def measure(daemon, sim, smoke, before=False, env=None):
    """bench/run's figure: writes per minute of eeprom.ps under a `*PS=` flood,
    the daily budget out of the way; a build before the budget takes no option."""
    seconds, interval = (3, 1) if smoke else (60, 10)
    extra = [] if before else ["--eeprom-interval", str(interval), "--eeprom-budget", "100000"]
    args = argparse.Namespace(daemon=daemon, sim=sim, seconds=seconds, extra=extra)
    figures = flood(args, env)
    figures["interval_s"] = None if before else interval
    return figures


def report(after, before, header):
    rate = 60 / after["interval_s"]
    lines = [HEADING, "", header, "",
             "The real `quorveld` under `quorvel-sim`; one client sends `*PS=ONE` and `*PS=TWO` "
             "(set and store) in turn over one TCP connection, each line after the reply to the "
             "one before, for " + f"{after['seconds']:.0f} s" + ", with `--eeprom-budget 100000` "
             "so that only the interval holds it back. A pass is a write of the EEPROM PS name's "
             "first block (request 0x61), counted in the simulated board's request log.", "",
             "| quorveld | lines sent | EEPROM PS passes | per minute | the interval's rate |",
             "|---|---:|---:|---:|---:|"]
    if before:
        lines.append(f"| before the budget ({before.get('measured', '')}) | {before['lines']:,} "
                     f"| {before['eeprom_ps_passes']:,} | {before['per_minute']:,.0f} | — |")
    lines.append(f"| `--eeprom-interval {after['interval_s']}` | {after['lines']:,} | "
                 f"{after['eeprom_ps_passes']:,} | {after['per_minute']:,.1f} | {rate:.0f} |")
    lines += ["", "Every line is answered `+`: its RAM part goes on air at once, and its EEPROM "
              "part folds into the write waiting for the field's next turn. With the default "
              "budget (24 a day, 21 for clients), once 21 writes are counted, the lines that "
              "need another get `/`: their RAM part still applies.", ""]
    return "\n".join(lines)


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    build = os.path.join(os.path.dirname(here), "build")
    p = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawTextHelpFormatter)
    p.add_argument("figure", choices=["eeprom", "flood", "rt-buffer", "udp", "tcp", "accept"])
    p.add_argument("--daemon", default=os.path.join(build, "quorveld", "quorveld"))
    p.add_argument("--sim", default=os.path.join(build, "sim", "quorvel-sim"))
    p.add_argument("--seconds", type=float, default=10)
    p.add_argument("--count", type=int, default=500000)
    p.add_argument("--connects", type=int, default=2000)
    p.add_argument("--idle-option", action="store_true", help="the daemon takes --idle-timeout")
    argv = sys.argv[1:]
    extra = argv[argv.index("--") + 1:] if "--" in argv else []
    args = p.parse_args(argv[:argv.index("--")] if "--" in argv else argv)
    args.extra = extra  # more options for quorveld, after --
    figures = {"eeprom": eeprom, "flood": flood, "rt-buffer": rt_buffer, "udp": udp, "tcp": tcp,
               "accept": accept}
    json.dump(figures[args.figure](args), sys.stdout, indent=1)
    print()


if __name__ == "__main__":
    main()

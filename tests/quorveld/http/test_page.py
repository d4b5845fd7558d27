#!/usr/bin/python3
"""quorveld's page in headless Chromium, driven by Selenium, against quorveld
under quorvel-sim: the page shows the board's fields; an edited RadioText is
the only field its PATCH carries and sends exactly its changed blocks; a PTY
of 40 is refused at its field and sends nothing; Revert puts back the board's
value; a change made through the ASCII port shows within two seconds; a write
the board refuses (the simulated board fails every RAM DI write) is marked
pending. Fields the operator did not edit are never sent: with the board
absent, or with a flag whose read fails, Apply of the PS name sends the PS
name alone, and the board's return writes nothing else; an asked value the
page stops asking for is not written again after a replug.

Two sessions at once: a stale Apply is refused and shown, nothing reaches the
board until the operator keeps theirs; an edit overtaken by automation is
marked. An absent board's last-known values stay, dimmed, and a change made
meanwhile is queued. An idle page sends no request while other clients come
and go, and at most one per 5 s when it has to poll.

  test_page.py --daemon QUORVELD --sim QUORVEL_SIM [--screenshot FILE.png [--phone-screenshot FILE.png]]
                [--shots DIR]
  test_page.py --daemon QUORVELD --sim QUORVEL_SIM --idle SECONDS

With --screenshot, only loads the page and saves it whole as a PNG; with
--shots, also saves the conflict notice and the absent board at desktop and
phone widths. --idle only counts an idle page's requests. Exits 77 (skipped)
when Chromium or its driver is missing.
"""
import argparse
import os
import re
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import time

SKIP = 77


def fail(message):
    print(f"FAILED: {message}", file=sys.stderr)
    sys.exit(1)


def wait(condition, what, seconds=20.0):
    """Polls condition until it gives a true value, at most `seconds`."""
    until = time.monotonic() + seconds
    while time.monotonic() < until:
        value = condition()
        if value:
            return value
        time.sleep(0.05)
    fail(f"timed out waiting for {what}")


class Daemon:
    """quorveld --http 127.0.0.1:0 --ascii-tcp 127.0.0.1:0 under quorvel-sim --log --control,
    with the sim's and the daemon's other options given."""

    def __init__(self, daemon, sim, directory, sim_options=(), daemon_options=("--verify", "0")):
        directory = tempfile.mkdtemp(dir=directory)
        self.log_path = os.path.join(directory, "requests.log")
        self.err_path = os.path.join(directory, "stderr.txt")
        self.control_path = os.path.join(directory, "control")
        with open(self.err_path, "w") as err:
            self.process = subprocess.Popen(
                [sim, "--log", self.log_path, "--control", self.control_path, *sim_options, "--",
                 daemon, "--http", "127.0.0.1:0", "--ascii-tcp", "127.0.0.1:0", *daemon_options],
                stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=err)
        self.url = wait(lambda: self.logged(r"listening on (http://127\.0\.0\.1:\d+)"), "the HTTP listener")
        self.ascii_port = int(wait(lambda: self.logged(r"listening on ascii-tcp 127\.0\.0\.1:(\d+)"),
                                   "the ASCII listener"))
        wait(lambda: self.logged(r"(board found at) "), "the board")

    def logged(self, pattern):
        if self.process.poll() is not None:
            fail(f"quorveld ended ({self.process.returncode}): {open(self.err_path).read()}")
        match = re.search(pattern, open(self.err_path).read())
        return match.group(1) if match else None

    def requests(self):
        with open(self.log_path) as log:
            return log.read().splitlines()

    def writes(self, since):
        """The codes of the writes the board took since request `since`."""
        return [int(line.split()[0], 16) for line in self.requests()[since:]
                if int(line.split()[0], 16) < 0x80 and line.endswith("result=8")]

    def control(self, command):
        """unplug, replug or glitch, through quorvel-sim's control pipe."""
        with open(self.control_path, "w") as pipe:
            pipe.write(command + "\n")

    def api(self, method, path, body=None):
        import json
        import urllib.request
        data = None if body is None else json.dumps(body).encode()
        request = urllib.request.Request(self.url + path, data=data, method=method,
                                         headers={"Content-Type": "application/json"})
        with urllib.request.urlopen(request, timeout=10) as answer:
            return json.load(answer)

    def ascii(self, line):
        with socket.create_connection(("127.0.0.1", self.ascii_port), timeout=10) as connection:
            connection.sendall(line.encode() + b"\r\n")
            return connection.recv(64).decode().strip()

    def stop(self):
        """Ends quorveld with SIGTERM; its exit status (a sanitizer's report fails it)."""
        self.process.send_signal(signal.SIGTERM)
        try:
            return self.process.wait(timeout=20)
        except subprocess.TimeoutExpired:
            self.process.kill()
            return "killed after 20 s"


def browser(size=(900, 1200)):
    from selenium import webdriver
    from selenium.webdriver.chrome.service import Service

    options = webdriver.ChromeOptions()
    options.binary_location = shutil.which("chromium")
    for argument in ("--headless=new", "--no-sandbox", "--disable-gpu", "--disable-dev-shm-usage",
                     f"--window-size={size[0]},{size[1]}", "--lang=en-GB"):
        options.add_argument(argument)
    options.set_capability("goog:loggingPrefs", {"performance": "ALL"})
    return webdriver.Chrome(service=Service(shutil.which("chromedriver")), options=options)


class Page:
    def __init__(self, driver):
        self.driver = driver

    def element(self, element_id):
        from selenium.webdriver.common.by import By
        return self.driver.find_element(By.ID, element_id)

    def value(self, field):
        return self.element(f"f-{field}").get_attribute("value")

    def meaning(self, field):
        return self.driver.execute_script(
            f"return document.getElementById('row-{field}').querySelector('.meaning').textContent")

    def type(self, field, text):
        element = self.element(f"f-{field}")
        element.clear()
        element.send_keys(text)

    def apply(self):
        self.element("apply").click()

    def checkbox_state(self, field):
        """"unknown" (indeterminate), "1" or "0"."""
        return self.driver.execute_script(
            f"const c = document.getElementById('f-{field}');"
            "return c.indeterminate ? 'unknown' : c.checked ? '1' : '0'")

    def selected(self, field):
        return self.driver.execute_script(
            f"const s = document.getElementById('f-{field}'); return s.options[s.selectedIndex].text")

    def di(self, field):
        """The names of the DI flags ticked."""
        return self.driver.execute_script(
            f"return [...document.getElementById('row-{field}').querySelectorAll('.flag')]"
            ".filter(f => f.querySelector('input').checked).map(f => f.querySelector('label').lastChild.textContent)")

    def classes(self, element_id):
        return self.element(element_id).get_attribute("class").split()

    def requests(self):
        """The URLs the page asked for since the last call (this or patches())."""
        import json
        urls = []
        for entry in self.driver.get_log("performance"):
            message = json.loads(entry["message"])["message"]
            if message["method"] == "Network.requestWillBeSent":
                urls.append(message["params"]["request"]["url"])
        return urls

    def patches(self):
        """The bodies of the PATCH requests the page sent since the last call."""
        import json
        bodies = []
        for entry in self.driver.get_log("performance"):
            message = json.loads(entry["message"])["message"]
            if message["method"] == "Network.requestWillBeSent":
                request = message["params"]["request"]
                if request["method"] == "PATCH":
                    bodies.append(json.loads(request.get("postData", "null")))
        return bodies


def settled(daemon):
    """The requests once the board is present and the daemon has nothing left to write."""
    def idle():
        status = daemon.api("GET", "/api/v1/status")
        return status["board"] == "present" and status["pending_writes"] == 0
    wait(idle, "the writes")
    return daemon.requests()


PS_WRITES = [0x21, 0x22]  # the RAM PS name's two blocks


def check_unknown_fields_stay_unsent(daemon, page, absent):
    """Only the PS name is edited while the board is absent, or while the RAM TP
    flag cannot be read: Apply sends the PS name alone, and nothing else is
    written when the board answers again."""
    page.driver.get(daemon.url + "/")
    wait(lambda: page.value("ram.ps") == "QUORVEL ", "the fields on the page")
    if absent:
        # The last-known values stay, dimmed, under a status line that says so.
        daemon.control("unplug")
        wait(lambda: re.match(r"Board absent since \d\d:\d\d \(last at \d+/\d+\)", page.element("st-board").text),
             "the board's absence in the status line")
        wait(lambda: "stale" in page.classes("row-ram.tp"), "the last-known TP flag dimmed")
        shown = (page.checkbox_state("ram.tp"), page.selected("ram.pty"), page.element("s-ram.pty").text)
        if shown != ("1", "10: Pop music", "last known"):
            fail(f"an absent board's TP, PTY and meaning show {shown}")
    else:
        wait(lambda: page.checkbox_state("ram.tp") == "unknown", "the RAM TP flag shown as unknown")
    page.patches()
    before = len(daemon.requests())
    page.type("ram.ps", "ONAIR")
    page.apply()
    said = "Queued: board absent" if absent else "Sent"
    wait(lambda: page.element("message").text.startswith(said), f"\"{said}\" for the PS name")
    if page.patches() != [{"ram.ps": "ONAIR", "seen": {"ram.ps": "QUORVEL "}}]:
        fail(f"Apply of the PS name alone sent more (absent: {absent})")
    if absent:
        daemon.control("replug")
    wait(lambda: PS_WRITES == daemon.writes(before)[:2], "the PS name on the board")
    settled(daemon)
    if daemon.writes(before) != PS_WRITES:
        fail(f"the board took writes {[hex(c) for c in daemon.writes(before)]}, not the PS name's alone")


def check_dropped_ask(daemon, page):
    """RAM TP asked 0, then no longer asked through the page: a replug (the board's
    RAM takes its EEPROM TP 1) writes the PS name asked beside it, and not TP."""
    page.driver.get(daemon.url + "/")
    wait(lambda: page.value("ram.ps") == "QUORVEL ", "the fields on the page")
    daemon.api("PATCH", "/api/v1/fields", {"ram.tp": 0, "ram.ps": "KEPT"})
    settled(daemon)
    wait(lambda: page.element("u-ram.tp").is_displayed(), "Stop asking at the RAM TP flag")
    click(page, page.element("u-ram.tp"))
    wait(lambda: page.element("message").text.startswith("No longer asked: On air now - Traffic programme (TP)"), "the TP ask dropped")
    asked = daemon.api("GET", "/api/v1/fields")["asked"]
    if "ram.tp" in asked or asked.get("ram.ps") != "KEPT    ":
        fail(f"the daemon still asks for {asked}")
    daemon.control("unplug")
    wait(lambda: page.element("st-board").text.startswith("Board absent"), "the board's absence")
    before = len(daemon.requests())
    daemon.control("replug")
    wait(lambda: PS_WRITES == daemon.writes(before)[:2], "the kept PS name written again")
    settled(daemon)
    if daemon.writes(before) != PS_WRITES:
        fail(f"after the replug the board took writes {[hex(c) for c in daemon.writes(before)]}")
    wait(lambda: page.checkbox_state("ram.tp") == "1", "the board's own TP flag on the page")


def check(daemon, page):
    # The board's fields, with their meanings.
    wait(lambda: page.value("ram.ps") == "QUORVEL ", "the fields on the page")
    shown = {field: page.value(field) for field in
             ("ram.ps", "ram.rt", "ram.pty", "eeprom.pi", "eeprom.naf", "eeprom.af01", "eeprom.group2a")}
    expected = {"ram.ps": "QUORVEL ", "ram.rt": "Quorvel RDS encoder - simulated board", "ram.pty": "10",
                "eeprom.pi": "0xC201", "eeprom.naf": "5", "eeprom.af01": "98.5", "eeprom.group2a": "4"}
    if shown != expected:
        fail(f"the page shows {shown}, not {expected}")
    meanings = {"eeprom.naf": "5 in use: 87.6, 98.5, 101.1, 104.3, 107.9 MHz",
                "eeprom.pi": "country C, national, programme 01", "ram.ms": "ticked: music",
                "ram.ps": "7 characters, padded with 1 blank to the 8 sent", "eeprom.af05": "not in use",
                "eeprom.stereo": "stereo: the board follows the stereo pilot (external clock)"}
    for field, meaning in meanings.items():
        if page.meaning(field) != meaning:
            fail(f"{field} means \"{page.meaning(field)}\", not \"{meaning}\"")
    # RDS terms: the PTY by name, DI as flags, an unused AF place empty.
    terms = (page.selected("ram.pty"), page.selected("eeprom.stereo"), page.di("ram.di"), page.value("eeprom.af05"))
    if terms != ("10: Pop music", "1: stereo", ["Stereo"], ""):
        fail(f"the PTY, stereo, DI flags and unused AF show {terms}")
    if page.element("row-ram.tp").find_element("css selector", "input").is_selected() is not True:
        fail("TP 1 is not a ticked box")
    wait(lambda: page.element("st-board").text.startswith("On air: board "), "the board's state")

    # The RadioText's changed blocks, and nothing else: "boar" "d" become
    # "boat" and the end of the text (blocks 8 and 9).
    before = len(settled(daemon))
    page.patches()
    page.type("ram.rt", "Quorvel RDS encoder - simulated boat")
    page.apply()
    wait(lambda: len(daemon.requests()) >= before + 2, "the RadioText's requests")
    sent = settled(daemon)[before:]
    if sent != ["0x38 value=0x626F index=0x6174 result=8", "0x39 value=0x0D0D index=0x0D0D result=8"]:
        fail(f"Apply of the RadioText sent {sent}")
    if page.patches() != [{"ram.rt": "Quorvel RDS encoder - simulated boat",
                           "seen": {"ram.rt": "Quorvel RDS encoder - simulated board"}}]:
        fail("Apply sent more than the RadioText")

    # A Cyrillic RadioText: refused at its field, nothing sent; TA=1 over
    # ASCII then marks the end of what was sent.
    before = len(daemon.requests())
    page.type("ram.rt", "Привет")
    page.apply()
    error = wait(lambda: page.element("e-ram.rt").text, "the refusal at the RadioText")
    if "refused" not in page.classes("row-ram.rt"):
        fail(f"the RadioText's refusal reads \"{error}\"")
    if daemon.ascii("TA=1") != "+":
        fail("TA=1 over ASCII was not taken")
    wait(lambda: len(daemon.requests()) > before, "the TA request")
    sent = settled(daemon)[before:]
    if sent != ["0x25 value=0x0001 index=0x0000 result=8"]:
        fail(f"a refused RadioText sent {sent}")
    page.element("revert").click()
    if page.value("ram.rt") != "Quorvel RDS encoder - simulated boat" or page.element("e-ram.rt").text:
        fail("Revert did not put back the board's RadioText")

    # Another client's change shows within two seconds.
    if daemon.ascii("PS=NEWNAME") != "+":
        fail("PS=NEWNAME over ASCII was not taken")
    sent_at = time.monotonic()
    wait(lambda: page.value("ram.ps") == "NEWNAME ", "the ASCII port's PS name on the page", seconds=2.0)
    print(f"the ASCII port's change showed after {time.monotonic() - sent_at:.2f} s")

    # A write that keeps failing: marked pending, and counted in the status.
    page.patches()
    click(page, page.element("f-ram.di-1"))
    page.apply()
    wait(lambda: "pending" in page.classes("row-ram.di"), "the DI's pending mark")
    wait(lambda: page.element("st-pending").text == "1", "the pending write in the status")
    if page.patches()[0].get("ram.di") != "3" or page.di("ram.di") != ["Stereo", "Artificial head"] \
            or page.element("s-ram.di").text != "being written":
        fail("the pending DI is not shown as being written")


AXE = os.path.join(os.path.dirname(os.path.abspath(__file__)), "axe-core")


def axe_source():
    """The vendored axe-core, its hash checked."""
    import hashlib
    with open(os.path.join(AXE, "axe.min.js"), "rb") as f:
        source = f.read()
    with open(os.path.join(AXE, "axe.min.js.sha256")) as f:
        expected = f.read().split()[0]
    if hashlib.sha256(source).hexdigest() != expected:
        fail("tests/quorveld/http/axe-core/axe.min.js does not match its hash")
    return source.decode()


def axe(page, source):
    """axe-core's violations on the page as it is: [(rule, [targets])]."""
    result = page.driver.execute_async_script(
        source + "\n;const done = arguments[arguments.length - 1];"
        "axe.run(document, {resultTypes: ['violations']}).then(r => done({version: axe.version,"
        " passes: r.passes.length, violations: r.violations.map(v => [v.id, v.nodes.map(n => n.target.join(' '))])}))")
    return result


def check_accessibility(daemon, page):
    """axe-core finds nothing in light and dark schemes, at desktop and phone
    widths, before and after a refusal."""
    source = axe_source()
    page.driver.set_script_timeout(60)
    report = []
    for scheme in ("light", "dark"):
        page.driver.execute_cdp_cmd("Emulation.setEmulatedMedia",
                                    {"features": [{"name": "prefers-color-scheme", "value": scheme}]})
        for width, height in ((1280, 900), (390, 844)):
            page.driver.set_window_size(width, height)
            page.driver.get(daemon.url + "/")
            wait(lambda: page.value("ram.ps") not in ("", None), "the fields on the page")
            wait(lambda: page.element("st-board").text.startswith("On air"), "the status")
            for state in ("normal", "refused"):
                if state == "refused":
                    page.type("ram.rt", "Привет")
                    page.apply()
                    wait(lambda: page.element("e-ram.rt").text, "the refusal")
                result = axe(page, source)
                report.append(f"{scheme} {width}x{height} {state}: {result['passes']} rules passed, "
                              f"{len(result['violations'])} violations")
                if result["violations"]:
                    fail(f"axe-core {result['version']} ({scheme}, {width}x{height}, {state}): {result['violations']}")
    page.driver.execute_cdp_cmd("Emulation.setEmulatedMedia", {"features": []})
    page.driver.set_window_size(900, 1200)
    print(f"axe-core {result['version']}: " + "; ".join(report))


# Field -> the accessible name a screen reader gives its control: the section first.
NAMES = {
    "f-ram.ps": "On air now: PS name",
    "f-eeprom.ps": "Power-on defaults: PS name",
    "f-ram.rt": "On air now: RadioText",
    "f-ram.pty": "On air now: Programme type (PTY)",
    "f-eeprom.pty": "Power-on defaults: Programme type (PTY)",
    "f-ram.tp": "On air now: Traffic programme (TP)",
    "f-eeprom.ta": "Power-on defaults: Traffic announcement (TA)",
    "f-ram.ms": "On air now: Music/speech (MS)",
    "f-ram.di-0": "On air now: DI Stereo",
    "f-eeprom.di-3": "Power-on defaults: DI Dynamic PTY",
    "f-eeprom.af00": "Power-on defaults: AF 1",
    "f-eeprom.stereo": "Power-on defaults: Stereo/mono",
}

# A refused Apply: the fields typed, each field's words, and the control focused.
REFUSALS = [
    ({"ram.rt": "Привет"},
     {"ram.rt": "On air now - RadioText: the character 'П' cannot be sent; the RDS character table has no "
                "Cyrillic letters."}, "f-ram.rt"),
    ({"eeprom.naf": "40", "eeprom.af01": "200"},
     {"eeprom.naf": "Power-on defaults - AFs in use: 40 is not allowed; use 0 to 25.",
      "eeprom.af01": "Power-on defaults - AF 2: 200 MHz is not allowed; use 87.6 to 107.9 MHz."}, "f-eeprom.naf"),
    ({"ram.ps": "RADIO", "eeprom.pi": "xyz"},
     {"eeprom.pi": "Power-on defaults - PI code: \"xyz\" is not a hexadecimal number"}, "f-eeprom.pi"),
]


def check_words_and_focus(daemon, page):
    """Accessible names by table; refusals by table: their words at the field
    and in its description, aria-invalid, the focus on the first refused
    field; EEPROM fields asked first; a focused field clear of the bars;
    the page without JavaScript."""
    page.driver.set_window_size(1280, 900)
    page.driver.get(daemon.url + "/")
    wait(lambda: page.value("ram.ps") == "QUORVEL ", "the fields on the page")
    for element_id, name in NAMES.items():
        if page.element(element_id).accessible_name != name:
            fail(f"{element_id} is named \"{page.element(element_id).accessible_name}\", not \"{name}\"")
    described = page.driver.execute_script(
        "return document.getElementById('f-ram.ps').getAttribute('aria-describedby').split(' ')"
        ".map(id => document.getElementById(id).textContent).join('|')")
    if described != "7 characters, padded with 1 blank to the 8 sent||":
        fail(f"the PS name is described as \"{described}\"")

    before = len(settled(daemon))
    for typed, words, focused in REFUSALS:
        page.element("revert").click()
        for field, value in typed.items():
            page.type(field, value)
        page.apply()
        if any(field.startswith("eeprom.") for field in typed):
            wait(lambda: page.element("confirm").get_attribute("open") is not None, "the EEPROM confirmation")
            page.element("confirm-write").click()
        outcome = wait(lambda: re.match(r"(Refused|Not applied|Sent|Queued).*", page.element("message").text),
                       f"the outcome of {typed}")
        if not outcome.group(0).startswith("Refused"):
            fail(f"{typed}: {page.element('message').text}")
        shown = {field: page.element(f"e-{field}").text for field in typed if page.element(f"e-{field}").text}
        invalid = {field for field in typed if page.element(f"f-{field}").get_attribute("aria-invalid") == "true"}
        active = page.driver.execute_script("return document.activeElement.id")
        if (shown, invalid, active) != (words, set(words), focused):
            fail(f"{typed} refused as {shown}, invalid {invalid}, focus on {active}")
        if "edited, not yet applied" not in page.element(f"s-{next(iter(typed))}").text:
            fail(f"{typed}: the edit is not said in words")
    page.element("revert").click()
    if settled(daemon)[before:]:
        fail("a refused Apply reached the board")

    # Power-on defaults: asked first; Cancel sends nothing, Write sends.
    page.patches()
    page.type("eeprom.group2a", "6")
    page.apply()
    wait(lambda: page.element("confirm").get_attribute("open") is not None, "the EEPROM confirmation")
    words = page.element("confirm").text
    if "2A group rate" not in words or "EEPROM budget" not in words:
        fail(f"the EEPROM confirmation reads \"{words}\"")
    page.element("confirm-cancel").click()
    wait(lambda: page.element("message").text.startswith("Not applied: the power-on defaults"), "the cancel")
    if page.patches():
        fail("a cancelled EEPROM Apply was sent")
    page.apply()
    wait(lambda: page.element("confirm").get_attribute("open") is not None, "the EEPROM confirmation again")
    page.element("confirm-write").click()
    wait(lambda: page.element("message").text.startswith("Sent: Power-on defaults - 2A group rate"), "the write")
    wait(lambda: 0x02 in daemon.writes(before), "the 2A group rate on the board")

    # Tab through every control at 1280 x 900: none hides under the header,
    # a section's name or the action bar.
    from selenium.webdriver.common.keys import Keys
    page.driver.get(daemon.url + "/")
    wait(lambda: page.value("ram.ps") not in ("", None), "the fields on the page")
    page.element("f-ram.ps").click()
    for _ in range(80):
        page.driver.switch_to.active_element.send_keys(Keys.TAB)
        hidden = page.driver.execute_script("""
            const e = document.activeElement;
            if (!e || e === document.body || e.closest('#actions, header')) return null;
            const r = e.getBoundingClientRect();
            const h2 = e.closest('section')?.querySelector(':scope > h2');
            const top = Math.max(document.getElementById('top').getBoundingClientRect().bottom,
                                 h2 ? h2.getBoundingClientRect().bottom : 0);
            const bottom = document.getElementById('actions').getBoundingClientRect().top;
            return r.top < top - 1 || r.bottom > bottom + 1 ? e.id || e.textContent : null;""")
        if hidden:
            fail(f"the focused {hidden} is under a bar at 1280 x 900")

    # Without JavaScript the page says why it is empty.
    page.driver.execute_cdp_cmd("Emulation.setScriptExecutionDisabled", {"value": True})
    page.driver.get(daemon.url + "/")
    body = page.driver.find_element("tag name", "main").text
    page.driver.execute_cdp_cmd("Emulation.setScriptExecutionDisabled", {"value": False})
    if "This page needs JavaScript" not in body:
        fail(f"without JavaScript the page reads \"{body[:200]}\"")


RT_WRITES = range(0x30, 0x3A)  # the RAM RadioText's blocks


def check_two_sessions(daemon, a, b):
    """B edits the RadioText; A applies another; B's Apply is refused and shown,
    nothing is written, until B keeps theirs. Automation's PS name overtakes an
    edit in progress: marked, and taken back with Take theirs."""
    for page in (a, b):
        page.driver.get(daemon.url + "/")
        wait(lambda: page.value("ram.ps") == "QUORVEL ", "the fields in both sessions")
    b.type("ram.rt", "B's news")
    a.type("ram.rt", "A's news")
    a.apply()
    wait(lambda: a.element("message").text.startswith("Sent"), "A's RadioText sent")
    settled(daemon)
    wait(lambda: "A's news" in b.element("c-ram.rt").text, "the edit in progress marked in B")
    before = len(daemon.requests())
    b.patches()
    b.apply()
    wait(lambda: b.element("message").text.startswith("Not applied: changed elsewhere"), "B's refusal")
    notice = b.element("c-ram.rt").text
    if not re.match(r'Changed elsewhere to "A\'s news" \(by http 127\.0\.0\.1 at \d\d:\d\d\)', notice):
        fail(f"the conflict notice reads \"{notice}\"")
    if b.patches() != [{"ram.rt": "B's news", "seen": {"ram.rt": "Quorvel RDS encoder - simulated board"}}]:
        fail("B's stale Apply was not sent with what B had seen")
    if settled(daemon)[before:]:
        fail(f"a refused Apply reached the board: {settled(daemon)[before:]}")
    # Keep mine: sent, seen as A's.
    click(b, b.driver.find_element("xpath", "//div[@id='c-ram.rt']/button[text()='Keep mine']"))
    wait(lambda: b.element("message").text.startswith("Sent"), "B's RadioText sent")
    wait(lambda: any(code in RT_WRITES for code in daemon.writes(before)), "B's RadioText on the board")
    wait(lambda: a.value("ram.rt") == "B's news", "B's RadioText in A")
    changes = daemon.api("GET", "/api/v1/changes")["changes"]
    if [(c["from"], c["to"]) for c in changes[:2]] != [("A's news", "B's news"),
                                                       ("Quorvel RDS encoder - simulated board", "A's news")]:
        fail(f"the change log reads {changes[:2]}")

    # Automation overtakes an edit; Take theirs keeps it and sends nothing.
    b.type("ram.ps", "MINE")
    if daemon.ascii("PS=AUTO") != "+":
        fail("PS=AUTO over ASCII was not taken")
    wait(lambda: 'Changed elsewhere to "AUTO    "' in b.element("c-ram.ps").get_attribute("textContent"),
         "the PS edit marked")
    before = len(settled(daemon))
    click(b, b.driver.find_element("xpath", "//div[@id='c-ram.ps']/button[text()='Take theirs']"))
    if b.value("ram.ps") != "AUTO    " or "edited" in b.classes("row-ram.ps"):
        fail(f"Take theirs left \"{b.value('ram.ps')}\"")
    b.apply()
    wait(lambda: b.element("message").text == "Nothing changed.", "nothing left to apply")
    if settled(daemon)[before:]:
        fail("Take theirs sent something")


def check_changes_section(daemon, page):
    """The page's change log: the asks of every door, newest first."""
    page.driver.get(daemon.url + "/")
    wait(lambda: page.value("ram.ps") == "QUORVEL ", "the fields on the page")
    if daemon.ascii("PTY=5") != "+":
        fail("PTY=5 over ASCII was not taken")
    click(page, page.element("changes").find_element("css selector", "summary"))
    first = wait(lambda: page.driver.execute_script(
        "const r = document.querySelector('#changes-list tr'); return r && r.innerText"), "the change log")
    cells = first.split("\t")
    if cells[1:] != ["ram.pty", "10", "5", "ascii 127.0.0.1"]:
        fail(f"the change log's first row reads {cells}")


def click(page, element):
    """A click as a person makes it: on the element scrolled into the middle of the window."""
    page.driver.execute_script("arguments[0].scrollIntoView({block: 'center'})", element)
    element.click()


def check_changes_kept(daemon_path, sim_path, directory):
    """The change log outlives a restart, in a file beside the state file."""
    state = os.path.join(tempfile.mkdtemp(dir=directory), "state.json")
    first = Daemon(daemon_path, sim_path, directory, (), ("--verify", "0", "--state", state))
    if first.ascii("PS=KEPT") != "+":
        fail("PS=KEPT over ASCII was not taken")
    settled(first)
    if first.stop() != 0:
        fail(f"quorveld ended badly: {open(first.err_path).read()}")
    second = Daemon(daemon_path, sim_path, directory, (), ("--verify", "0", "--state", state))
    try:
        change = second.api("GET", "/api/v1/changes")["changes"][0]
        kept = (change["field"], change["to"], change["door"], change["client"])
        if kept != ("ram.ps", "KEPT    ", "ascii", "127.0.0.1") or \
                not os.path.exists(state.replace(".json", ".changes.json")):
            fail(f"after a restart the change log begins with {kept}")
    finally:
        second.stop()


def save_shot(page, directory, name, element_id=None):
    if element_id:
        page.driver.execute_script("document.getElementById(arguments[0]).scrollIntoView({block: 'center'})",
                                   element_id)
    page.driver.save_screenshot(os.path.join(directory, name + ".png"))


def take_shots(daemon, page, directory):
    """The conflict notice and the absent board, at desktop and phone widths."""
    second = browser()
    try:
        other = Page(second)
        for width, height, kind in ((1280, 900, "desktop"), (390, 844, "phone")):
            for p in (page, other):
                p.driver.set_window_size(width, height)
                p.driver.get(daemon.url + "/")
                wait(lambda: p.value("ram.ps") not in ("", None), "the fields")
            other.type("ram.rt", "Traffic news at 8")
            page.type("ram.rt", f"Breakfast show ({kind})")
            page.apply()
            wait(lambda: "Changed elsewhere" in other.element("c-ram.rt").text, "the conflict")
            other.apply()
            wait(lambda: other.element("message").text.startswith("Not applied"), "the refusal")
            save_shot(other, directory, f"conflict-{kind}", "c-ram.rt")
        daemon.control("unplug")
        for width, height, kind in ((1280, 900, "desktop"), (390, 844, "phone")):
            page.driver.set_window_size(width, height)
            page.driver.get(daemon.url + "/")
            wait(lambda: page.element("st-board").text.startswith("Board absent"), "the absence")
            wait(lambda: "stale" in page.classes("row-ram.tp"), "the last-known values")
            page.type("ram.ps", "QUEUED")
            page.apply()
            wait(lambda: page.element("message").text.startswith("Queued"), "the queued change")
            save_shot(page, directory, f"absent-{kind}", "f-ram.pty")
        daemon.control("replug")
    finally:
        second.quit()


def check_idle(daemon, page, seconds, poll):
    """The requests of an idle page over `seconds` while other clients connect,
    read and leave: none with the event stream; with polling, the status
    alone, at most one per 5 s."""
    script = None
    if poll:
        script = page.driver.execute_cdp_cmd("Page.addScriptToEvaluateOnNewDocument",
                                             {"source": "delete window.EventSource;"})["identifier"]
    page.driver.get(daemon.url + "/")
    wait(lambda: page.value("ram.ps") == "QUORVEL ", "the fields on the page")
    wait(lambda: page.element("st-board").text not in ("", "…"), "the status")
    page.requests()
    until = time.monotonic() + seconds
    while time.monotonic() < until:
        daemon.api("GET", "/api/v1/status")
        with socket.create_connection(("127.0.0.1", daemon.ascii_port), timeout=10):
            pass
        time.sleep(0.5)
    urls = page.requests()
    if script:
        page.driver.execute_cdp_cmd("Page.removeScriptToEvaluateOnNewDocument", {"identifier": script})
    return urls


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--daemon", required=True)
    parser.add_argument("--sim", required=True)
    parser.add_argument("--screenshot")
    parser.add_argument("--phone-screenshot")
    parser.add_argument("--shots")
    parser.add_argument("--idle", type=float)
    args = parser.parse_args()
    if not shutil.which("chromium") or not shutil.which("chromedriver"):
        print("skipped: chromium or chromedriver is missing")
        return SKIP

    with tempfile.TemporaryDirectory() as directory:
        driver = None
        daemons = []
        try:
            driver = browser()
            page = Page(driver)
            if args.idle:
                daemons.append(Daemon(args.daemon, args.sim, directory))
                for poll in (False, True):
                    urls = check_idle(daemons[-1], page, args.idle, poll)
                    print(f"idle {args.idle:.0f} s ({'polling' if poll else 'events'}): {len(urls)} requests")
                return 0
            pictures = args.screenshot or args.shots
            if not pictures:
                daemons.append(Daemon(args.daemon, args.sim, directory))
                urls = check_idle(daemons[-1], page, 12, poll=False)
                if urls:
                    fail(f"an idle page with the event stream asked for {urls}")
                urls = check_idle(daemons[-1], page, 12, poll=True)
                if len(urls) > 3 or any(not url.endswith("/api/v1/status") for url in urls):
                    fail(f"an idle polling page asked for {urls} in 12 s")
                check_changes_section(daemons[-1], page)
                check_changes_kept(args.daemon, args.sim, directory)
                check_words_and_focus(daemons[-1], page)
                check_accessibility(daemons[-1], page)
                second = browser()
                try:
                    check_two_sessions(daemons[-1], page, Page(second))
                finally:
                    second.quit()
                # The board unplugged, and a read that keeps failing (the RAM TP flag's, 0xA4).
                for absent, sim_options in ((True, ()), (False, ("--fail-code", "0xA4"))):
                    daemons.append(Daemon(args.daemon, args.sim, directory, sim_options,
                                          ("--verify", "1", "--pty-names", "rds" if absent else "rbds")))
                    check_unknown_fields_stay_unsent(daemons[-1], page, absent)
                    # The PTY's names from the table the daemon was told.
                    names = (page.element("st-pty").text, page.selected("ram.pty"))
                    if names != (("RDS (Europe)", "10: Pop music") if absent else ("RBDS (North America)", "10: Country")):
                        fail(f"--pty-names {'rds' if absent else 'rbds'}: the page shows {names}")
                daemons.append(Daemon(args.daemon, args.sim, directory, (), ("--verify", "1")))
                check_dropped_ask(daemons[-1], page)
            daemon = Daemon(args.daemon, args.sim, directory, ("--fail-code", "0x27"))
            daemons.append(daemon)
            driver.get(daemon.url + "/")
            if args.shots:
                os.makedirs(args.shots, exist_ok=True)
                daemons.append(Daemon(args.daemon, args.sim, directory, (), ("--verify", "1")))
                take_shots(daemons[-1], page, args.shots)
            if args.screenshot:
                driver.set_window_size(900, 1200)
                driver.get(daemon.url + "/")
                wait(lambda: page.value("ram.ps") == "QUORVEL ", "the fields on the page")
                wait(lambda: page.element("st-board").text.startswith("On air"), "the board's state")
                height = driver.execute_script("return document.documentElement.scrollHeight")
                driver.set_window_size(900, height + 120)
                driver.save_screenshot(args.screenshot)
                print(f"{args.screenshot}: the page, {height} pixels high")
                if args.phone_screenshot:  # the top of the page at a phone's width
                    driver.set_window_size(390, 844)
                    driver.get(daemon.url + "/")
                    wait(lambda: page.value("ram.ps") == "QUORVEL ", "the fields on the page")
                    wait(lambda: page.element("st-board").text.startswith("On air"), "the board's state")
                    driver.save_screenshot(args.phone_screenshot)
            if not pictures:
                check(daemon, page)
        finally:
            if driver:
                driver.quit()
            statuses = [(daemon.stop(), daemon) for daemon in daemons]
        for status, daemon in statuses:
            if status != 0:
                fail(f"quorveld ended with {status}: {open(daemon.err_path).read()}")
    if not args.screenshot and not args.shots:
        print("1 passed, 0 failed")
    return 0


if __name__ == "__main__":
    sys.exit(main())

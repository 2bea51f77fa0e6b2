#!/usr/bin/python3
"""The board in a real headless chromium, against a real PostgreSQL server and a real SQLite file
holding generated records: the figures on the page equal the ones counted here, a stored record
shows within 2 s, a firmware string with markup stays text, both screen sizes show every figure
without overlap, a lost board server is said and caught up with; then the HTTP side (token, 404,
GET only) and the command line's refusals.

usage: board_browser_test.py TRACKER_BOARD BOARD_SEED TRACKER_SIM TRACKER_JIG
"""

import datetime
import json
import math
import os
import pwd
import random
import shutil
import socket
import subprocess
import sys
import tempfile
import time
import urllib.error
import urllib.request

SKIP = 77
BOARD, SEED, SIM, JIG = sys.argv[1:5]
TOKEN = "line-7-wall-screen"
XSS = '<img src=x onerror="window.pwned=1">'
XSS_STATION = "<script>window.pwned=2</script>"
FAILURES = []


def check(condition, what):
    if not condition:
        FAILURES.append(what)
        print("FAIL:", what, flush=True)


def wait_for(condition, seconds, step=0.05):
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        value = condition()
        if value:
            return value
        time.sleep(step)
    return condition()


# --- the records ----------------------------------------------------------------------------

def iso(moment):
    return moment.strftime("%Y-%m-%dT%H:%M:%S.") + "%03dZ" % (moment.microsecond // 1000)


def record(n, started, station, imei, passed, ttff, satellites, signal, firmware="V2.1.7",
           reasons=None):
    return {
        "record_id": "%032x" % n, "started_utc": iso(started), "ended_utc": iso(started),
        "station": station, "operator": "op", "port": "COM97 (pts/3)", "usb_identity": "",
        "imei": imei, "firmware": firmware, "gsm_signal": "20", "gps_count": "8",
        "agps_count": "0", "sim": "ok", "ttff_seconds": ttff, "satellites_used": satellites,
        "best_signal_dbhz": signal, "profile_name": "p", "profile_hash": "", "mismatches": [],
        "passed": passed, "reasons": reasons or [], "console_version": "test"}


RUN_LENGTH = datetime.timedelta(minutes=10)


def after_a_near_midnight(now):
    """Today's figures cannot hold across midnight: a run that would cross it waits it out."""
    tomorrow = now.replace(hour=0, minute=0, second=0, microsecond=0) + datetime.timedelta(days=1)
    if tomorrow - now > RUN_LENGTH:
        return now
    time.sleep((tomorrow - now).total_seconds() + 2)
    return datetime.datetime.now(datetime.timezone.utc)


def generate(now):
    """Records over today's last hours (never before midnight UTC), retests included."""
    midnight = now.replace(hour=0, minute=0, second=0, microsecond=0)
    start = max(midnight + datetime.timedelta(seconds=1), now - datetime.timedelta(hours=3))
    span = (now - start).total_seconds() - 5
    rng = random.Random(7)
    steps = [("gps", "a fix within 120 s"), ("gps", "4 satellites used"), ("verify", "ip 10.0.0.1"),
             ("test", "gsm ok"), ("identify", "an IMEI")]
    # The board reads its own clock later than this one: no record lies where the last
    # hour's edge passes during the run, or the figures would depend on the test's pace.
    edge = now - datetime.timedelta(hours=1)
    out = []
    for n in range(180):
        started = start + datetime.timedelta(seconds=span * n / 180)
        if edge <= started < edge + RUN_LENGTH:
            started += RUN_LENGTH
        passed = rng.random() > (0.45 if started > now - datetime.timedelta(minutes=50) else 0.2)
        reasons = []
        if not passed:
            for step, expected in rng.sample(steps, rng.choice([1, 1, 2])):
                reasons.append({"step": step, "expected": expected, "actual": "none"})
        imei = "86%013d" % rng.randrange(60) if n % 17 else ""
        ttff = rng.randrange(0, 1200) / 4 if n % 11 else None
        out.append(record(n, started, "站%d" % (n % 3 + 1), imei, passed, ttff,
                          rng.randrange(0, 22) if n % 13 else None, rng.randrange(5, 62),
                          XSS if n == 170 else "V2.1.7", reasons))
    out[-1]["station"] = XSS_STATION
    return out


def percent(part, whole):
    return None if whole == 0 else math.floor(1000.0 * part / whole + 0.5) / 10


def percent_text(value):
    return "—" if value is None else "%.1f %%" % value


def expected_figures(records, now, threshold):
    midnight = iso(now.replace(hour=0, minute=0, second=0, microsecond=0))
    hour_ago = iso(now - datetime.timedelta(hours=1))

    def yields(since):
        window = [r for r in records if r["started_utc"] >= since]
        first, last = {}, {}
        for r in sorted(window, key=lambda r: (r["started_utc"], r["record_id"])):
            if r["imei"]:
                first.setdefault(r["imei"], r)
                last[r["imei"]] = r
        units = len(first)
        return {"units": units, "records": len(window),
                "first": sum(r["passed"] for r in first.values()),
                "final": sum(r["passed"] for r in last.values())}

    today = [r for r in records if r["started_utc"] >= midnight]
    reasons = {}
    for r in today:
        for reason in r["reasons"]:
            key = (reason["step"], reason["expected"])
            reasons[key] = reasons.get(key, 0) + 1
    pareto = sorted(reasons.items(), key=lambda kv: (-kv[1], kv[0][0].encode(), kv[0][1].encode()))
    per_station = {}
    for r in today:
        slot = int(r["started_utc"][11:13])
        per_station.setdefault(r["station"], {}).setdefault(slot, 0)
        per_station[r["station"]][slot] += 1

    def histogram(key, low, width, buckets):
        counts = [0] * (buckets + 2)  # below, buckets..., above
        for r in today:
            v = r[key]
            if v is None:
                continue
            counts[min(max(math.floor((v - low) / width) + 1, 0), buckets + 1)] += 1
        return counts if low > 0 else counts[1:]

    hour = yields(hour_ago)
    hour_percent = percent(hour["first"], hour["units"])
    return {
        "day": yields(midnight), "hour": hour, "hourPercent": hour_percent,
        "below": hour_percent is not None and hour_percent < threshold,
        "pareto": [("%s: %s" % key, count) for key, count in pareto[:10]],
        "stations": per_station,
        "ttff": histogram("ttff_seconds", 0, 24, 10),
        "satellites": histogram("satellites_used", 0, 1, 16),
        "signal": histogram("best_signal_dbhz", 10, 5, 10),
    }


# --- the parts: a PostgreSQL server, the seed, the board, the browser ----------------------

class PgServer:
    def __init__(self, folder):
        versions = sorted(os.listdir("/usr/lib/postgresql"), key=int, reverse=True)
        self.bin = "/usr/lib/postgresql/%s/bin/" % versions[0]
        self.folder = folder
        self.user = pwd.getpwnam("nobody") if os.geteuid() == 0 else None
        if self.user:
            os.chown(folder, self.user.pw_uid, self.user.pw_gid)
        self.run("initdb", "-D", folder + "/data", "-U", "jig", "-A", "trust", "-E", "UTF8",
                 "--locale=C", "--no-sync")
        self.start()

    def run(self, program, *arguments):
        def as_server_user():
            if self.user:
                os.setgroups([])
                os.setgid(self.user.pw_gid)
                os.setuid(self.user.pw_uid)
        subprocess.run([self.bin + program, *arguments], cwd=self.folder, check=True,
                       preexec_fn=as_server_user, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL)

    def start(self):
        self.run("pg_ctl", "start", "-w", "-t", "60", "-D", self.folder + "/data", "-l",
                 self.folder + "/server.log", "-o",
                 "-c listen_addresses='' -k %s -c fsync=off" % self.folder)

    def stop(self):
        self.run("pg_ctl", "stop", "-w", "-t", "60", "-m", "fast", "-D", self.folder + "/data")

    def url(self):
        return "postgresql:///postgres?host=%s&user=jig" % self.folder


class Seed:
    """A station's store writer kept open: each record goes through the store's own Append."""

    def __init__(self, url):
        self.process = subprocess.Popen([SEED, url], stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                        text=True)

    def store(self, records):
        for r in records:
            self.process.stdin.write(json.dumps(r, ensure_ascii=False) + "\n")
            self.process.stdin.flush()
            line = self.process.stdout.readline()
            assert line.startswith("stored"), line

    def close(self):
        self.process.stdin.close()
        self.process.wait(timeout=30)


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


class Board:
    def __init__(self, url, port, *extra, env=None):
        self.args = [BOARD, "--records", url, "--listen", "127.0.0.1:%d" % port,
                     "--yield-threshold", "90", *extra]
        self.port = port
        self.env = dict(os.environ, TZ="UTC", **(env or {}))
        self.start()

    def start(self):
        self.process = subprocess.Popen(self.args, env=self.env)
        ready = wait_for(lambda: self.get("/api/figures", auth=True)[0] == 200, 20, 0.1)
        assert ready, "the board did not come up"

    def stop(self):
        self.process.terminate()
        check(self.process.wait(timeout=10) == 0, "the board did not stop cleanly on SIGTERM")

    def get(self, path, method="GET", auth=False, headers=None):
        url = "http://127.0.0.1:%d%s" % (self.port, path)
        if auth and "--token" in self.args:
            url += ("&" if "?" in path else "?") + "token=" + TOKEN
        request = urllib.request.Request(url, method=method, headers=headers or {})
        try:
            with urllib.request.urlopen(request, timeout=5) as response:
                return response.status, response.read().decode(), dict(response.headers)
        except urllib.error.HTTPError as error:
            return error.code, error.read().decode(), dict(error.headers)
        except OSError:
            return 0, "", {}


def open_browser():
    try:
        from selenium import webdriver
        from selenium.webdriver.chrome.service import Service
    except ImportError:
        return None
    options = webdriver.ChromeOptions()
    options.binary_location = "/usr/bin/chromium"
    for argument in ("--headless=new", "--no-sandbox", "--disable-gpu", "--disable-dev-shm-usage",
                     "--window-size=1920,1080", "--lang=zh-CN"):
        options.add_argument(argument)
    os.environ["TZ"] = "UTC"
    return webdriver.Chrome(service=Service("/usr/bin/chromedriver"), options=options)


def text(browser, element_id):
    return browser.execute_script("return document.getElementById(arguments[0]).textContent",
                                  element_id)


def chart_data(browser, canvas):
    return browser.execute_script(
        "const c = Chart.getChart(arguments[0]);"
        "return c ? {labels: c.data.labels, sets: c.data.datasets.map(d => [d.label, d.data])}"
        " : null", canvas)


# --- the checks ---------------------------------------------------------------------------

def check_figures(browser, expected, where):
    day, hour = expected["day"], expected["hour"]
    wait_for(lambda: text(browser, "units-today") == str(day["units"]), 10)
    check(text(browser, "units-today") == str(day["units"]), where + ": units today")
    check(text(browser, "first-pass-yield") == percent_text(percent(day["first"], day["units"])),
          where + ": first-pass yield " + text(browser, "first-pass-yield"))
    check(text(browser, "final-yield") == percent_text(percent(day["final"], day["units"])),
          where + ": final yield " + text(browser, "final-yield"))
    check(text(browser, "last-hour-yield") == percent_text(expected["hourPercent"]),
          where + ": last hour yield " + text(browser, "last-hour-yield"))
    alert_shown = browser.execute_script("return !document.getElementById('alert').hidden")
    check(alert_shown == expected["below"], where + ": the last hour's warning")
    check(percent_text(expected["hourPercent"]) in text(browser, "alert") or not expected["below"],
          where + ": the warning names the yield")

    hourly = chart_data(browser, "hourly-chart")
    check(hourly is not None, where + ": hourly chart drawn")
    if hourly:
        sets = {label: data for label, data in hourly["sets"]}
        for station, slots in expected["stations"].items():
            drawn = sets.get(station, [])
            wanted = [slots.get(i, 0) for i in range(len(hourly["labels"]))]
            check(drawn == wanted, where + ": hourly %s %s != %s" % (station, drawn, wanted))
    pareto = chart_data(browser, "pareto-chart")
    check(pareto and list(zip(pareto["labels"], pareto["sets"][0][1])) == expected["pareto"],
          where + ": Pareto %s" % (pareto and list(zip(pareto["labels"], pareto["sets"][0][1]))))
    for measure in ("ttff", "satellites", "signal"):
        drawn = chart_data(browser, measure + "-chart")
        check(drawn and drawn["sets"][0][1] == expected[measure],
              where + ": %s distribution %s != %s" % (measure, drawn and drawn["sets"][0][1],
                                                     expected[measure]))


def check_escaping(browser, where):
    cells = browser.execute_script(
        "return [...document.querySelectorAll('#last-units td')].map(td => td.textContent)")
    check(XSS in cells, where + ": the firmware string shown as text")
    check(XSS_STATION in cells, where + ": the station string shown as text")
    check(browser.execute_script("return document.querySelectorAll('main img, main script')"
                                 ".length") == 0, where + ": markup from a device became elements")
    check(browser.execute_script("return window.pwned === undefined"), where + ": a script ran")


LAYOUT = """
const box = (e) => { const r = e.getBoundingClientRect();
  return {name: e.dataset.figure || e.id || e.tagName, l: r.left, t: r.top, r: r.right, b: r.bottom}; };
const parts = [...document.querySelectorAll('[data-figure]')];
const shown = [document.querySelector('header'), ...parts,
  ...['alert', 'store-state'].map(id => document.getElementById(id)).filter(e => !e.hidden)];
const problems = [];
const boxes = shown.map(box);
for (const b of boxes) {
  if (b.l < 0 || b.t < 0 || b.r > innerWidth + 0.5 || b.b > innerHeight + 0.5 || b.r - b.l < 60 ||
      b.b - b.t < 40) problems.push('outside or too small: ' + JSON.stringify(b));
}
for (let i = 0; i < boxes.length; i++) for (let j = i + 1; j < boxes.length; j++) {
  const a = boxes[i], c = boxes[j];
  if (a.l < c.r - 0.5 && c.l < a.r - 0.5 && a.t < c.b - 0.5 && c.t < a.b - 0.5)
    problems.push('overlap: ' + a.name + ' / ' + c.name);
}
for (const part of parts) {
  const outer = box(part);
  for (const inner of part.querySelectorAll('canvas, .big, h2, .limit, th')) {
    const b = box(inner);
    if (b.l < outer.l - 0.5 || b.r > outer.r + 0.5 || b.t < outer.t - 0.5 || b.b > outer.b + 0.5 ||
        b.r - b.l < 1 || b.b - b.t < 1)
      problems.push('sticks out of ' + outer.name + ': ' + inner.tagName + ' ' + JSON.stringify(b));
    if (inner.classList.contains('big') && inner.scrollWidth > inner.clientWidth + 1)
      problems.push('number cut off in ' + outer.name);
  }
}
return problems;
"""


def check_layout(browser, width, height, where):
    browser.execute_cdp_cmd("Emulation.setDeviceMetricsOverride",
                            {"width": width, "height": height, "deviceScaleFactor": 1,
                             "mobile": False})
    time.sleep(0.5)  # Chart.js follows a resize on its next frame
    size = browser.execute_script("return [innerWidth, innerHeight]")
    check(size == [width, height], where + ": viewport %s" % size)
    problems = browser.execute_script(LAYOUT)
    check(not problems, where + " at %dx%d: %s" % (width, height, problems))
    if os.environ.get("BOARD_SCREENSHOTS"):
        browser.save_screenshot("%s/board-%dx%d.png" % (os.environ["BOARD_SCREENSHOTS"], width,
                                                       height))


def check_live(browser, seed, n, where):
    now = datetime.datetime.now(datetime.timezone.utc)
    fresh = record(n, now, "站9", "869999%09d" % n, False, 30.0, 6, 40,
                   reasons=[{"step": "test", "expected": "key ok", "actual": "none"}])
    seed.store([fresh])
    stored = time.monotonic()
    first_imei = "return (document.querySelector('#last-units tbody td:nth-child(3)') || {}).textContent"
    shown = wait_for(lambda: browser.execute_script(first_imei) == fresh["imei"], 10, 0.02)
    took = time.monotonic() - stored
    check(shown, where + ": the stored record never showed")
    check(took <= 2.0, where + ": the stored record showed after %.2f s" % took)
    return fresh


def check_jig(browser, url, folder, where):
    """A real station: tracker-jig tests a tracker-sim unit and stores its record."""
    env = dict(os.environ, XDG_RUNTIME_DIR=folder + "/run", XDG_DATA_HOME=folder + "/data")
    ports = folder + "/run/tracker-console/ports"
    os.makedirs(ports, exist_ok=True)
    profile = folder + "/profile.txt"
    with open(profile, "w") as f:
        f.write("format = 1\naddress = 198.51.100.9\nport = 9100\ndomain = 0\n"
                "sos1 = 110\nsos2 = 119\nsos3 = 120\n")
    imei = "864444444444%03d" % (len(where) % 1000)
    sim = subprocess.Popen([SIM, "--ports-folder", ports, "--imei", imei, "--no-nmea",
                            "--status-interval", "0", "--log-interval", "0"], env=env,
                           stdout=subprocess.DEVNULL)
    try:
        check(wait_for(lambda: os.listdir(ports), 20, 0.1), where + ": tracker-sim never plugged")
        jig = subprocess.Popen([JIG, "--all", "--profile", profile, "--test-timeout", "4",
                                "--records", url, "--station", "jig", "--json"], env=env,
                               stdout=subprocess.PIPE, text=True)
        stored = None
        for line in jig.stdout:
            event = json.loads(line)
            if event.get("event") == "record" and event.get("stored"):
                stored = time.monotonic()
        jig.wait(timeout=60)
        check(stored is not None, where + ": tracker-jig stored no record")
        first_imei = ("return (document.querySelector('#last-units tbody td:nth-child(3)') || {})"
                      ".textContent")
        shown = wait_for(lambda: browser.execute_script(first_imei) == imei, 10, 0.02)
        check(shown, where + ": the jig's record never showed")
        if stored is not None:
            took = time.monotonic() - stored
            check(took <= 2.0, where + ": the jig's record showed after %.2f s" % took)
    finally:
        sim.terminate()
        sim.wait(timeout=10)


def check_http(board, where):
    token = "--token" in board.args
    rows = [
        ("the page needs no token", "GET", "/", {}, 200),
        ("Chart.js from the package", "GET", "/chart.js", {}, 200),
        ("figures without the token", "GET", "/api/figures", {}, 401 if token else 200),
        ("figures with a wrong token", "GET", "/api/figures?token=line-7-wall-screeN", {},
         401 if token else 200),
        ("figures with the token in a header", "GET", "/api/yields",
         {"Authorization": "Bearer " + TOKEN}, 200),
        ("the stream without the token", "GET", "/events?x=1", {}, 401 if token else None),
        ("no such page", "GET", "/api/nothing?token=" + TOKEN, {}, 404),
        ("no such file", "GET", "/etc/passwd", {}, 404),
        ("no writing", "POST", "/api/figures?token=" + TOKEN, {}, 405),
        ("no deleting", "DELETE", "/api/unit?imei=1&token=" + TOKEN, {}, 405),
        ("no putting", "PUT", "/", {}, 405),
        ("Pareto over 7 days", "GET", "/api/pareto?days=7&token=" + TOKEN, {}, 200),
        ("Pareto over no days", "GET", "/api/pareto?days=0&token=" + TOKEN, {}, 400),
        ("Pareto over too many days", "GET", "/api/pareto?days=367&token=" + TOKEN, {}, 400),
        ("Pareto over a year", "GET", "/api/pareto?days=366&token=" + TOKEN, {}, 200),
        ("a unit without an IMEI", "GET", "/api/unit?imei=&token=" + TOKEN, {}, 400),
        ("a unit by a 65-byte IMEI", "GET", "/api/unit?imei=%s&token=%s" % ("8" * 65, TOKEN), {},
         400),
        ("a unit by a 64-byte IMEI", "GET", "/api/unit?imei=%s&token=%s" % ("8" * 64, TOKEN), {},
         200),
    ]
    for what, method, path, headers, status in rows:
        if status is None:
            continue
        got, body, answer = board.get(path, method, headers=headers)
        check(got == status, "%s: %s: %s %s gave %s" % (where, what, method, path, got))
        if path.startswith("/api/") or path == "/":
            check("script-src 'self'" in answer.get("Content-Security-Policy", ""),
                  "%s: %s: no Content-Security-Policy" % (where, what))


def check_threshold(url):
    """The warning at, just below and just above the last hour's yield."""
    board = Board(url, free_port())
    hour_percent = json.loads(board.get("/api/last-hour")[1])["firstPassPercent"]
    board.stop()
    for delta, below in ((-0.1, False), (0.0, False), (0.1, True)):
        threshold = "%.1f" % (hour_percent + delta)
        board = Board(url, free_port(), "--yield-threshold", threshold)
        status, body, _ = board.get("/api/last-hour")
        check(status == 200 and json.loads(body)["below"] == below,
              "threshold %s against %.1f %%: %s" % (threshold, hour_percent, body))
        board.stop()


def check_missing_store(folder):
    """A file that is not there yet: said, and read once a station made it."""
    path = folder + "/later.sqlite"
    board = Board("sqlite:" + path, free_port())
    figures = json.loads(board.get("/api/figures")[1])
    check(not figures["store"]["ok"] and path in figures["store"]["error"],
          "a missing file is not said: %s" % figures["store"])
    check(not os.path.exists(path), "the board made the file it only reads")
    seed = Seed("sqlite:" + path)
    seed.store([record(1, datetime.datetime.now(datetime.timezone.utc), "s", "861", True, 1.0,
                       5, 40)])
    seed.close()
    ok = wait_for(lambda: json.loads(board.get("/api/figures")[1])["store"]["ok"], 10, 0.1)
    check(ok, "the file made later is never read")
    check(json.loads(board.get("/api/yields")[1]).get("units") == 1, "the later file's unit")
    board.stop()


def check_refusals():
    rows = [
        ("no store", ["--listen", "127.0.0.1:1"]),
        ("beyond loopback without a token", ["--records", "sqlite:/x", "--listen", "0.0.0.0:8080"]),
        ("an IPv6 wildcard without a token", ["--records", "sqlite:/x", "--listen", "[::]:8080"]),
        ("the address just past loopback", ["--records", "sqlite:/x", "--listen", "128.0.0.1:80"]),
        ("the address just before loopback", ["--records", "sqlite:/x", "--listen", "126.255.255.255:80"]),
        ("a token too short", ["--records", "sqlite:/x", "--token", "1234567"]),
        ("port 0", ["--records", "sqlite:/x", "--listen", "127.0.0.1:0"]),
        ("port 65536", ["--records", "sqlite:/x", "--listen", "127.0.0.1:65536"]),
        ("a threshold above 100", ["--records", "sqlite:/x", "--yield-threshold", "100.1"]),
        ("a threshold with a decimal comma", ["--records", "sqlite:/x", "--yield-threshold", "9,5"]),
        ("a language it has not", ["--records", "sqlite:/x", "--lang", "fr"]),
        ("an unknown option", ["--records", "sqlite:/x", "--write"]),
        ("a stray argument", ["--records", "sqlite:/x", "extra"]),
    ]
    for what, arguments in rows:
        result = subprocess.run([BOARD, *arguments], capture_output=True, text=True, timeout=10)
        check(result.returncode == 2 and result.stderr.startswith("tracker-board: "),
              "refusal: %s: exit %d %r" % (what, result.returncode, result.stderr))


def main():
    if not (shutil.which("chromium") and os.path.exists("/usr/bin/chromedriver")):
        print("SKIP: chromium or chromium-driver is not installed")
        return SKIP
    browser = open_browser()
    if browser is None:
        print("SKIP: python3-selenium is not installed")
        return SKIP
    folder = tempfile.mkdtemp(prefix="tc-board-")
    server = None
    try:
        server = PgServer(folder)
        now = after_a_near_midnight(datetime.datetime.now(datetime.timezone.utc))
        records = generate(now)
        expected = expected_figures(records, now, 90)
        stores = [("SQLite", "sqlite:%s/line.sqlite" % folder, []),
                  ("PostgreSQL", server.url(), ["--token", TOKEN])]
        n = 1000
        for where, url, extra in stores:
            seed = Seed(url)
            seed.store(records)
            board = Board(url, free_port(), *extra, env={"LC_ALL": "de_DE.UTF-8"})
            query = "?token=" + TOKEN if extra else ""
            browser.get("http://127.0.0.1:%d/%s" % (board.port, query))
            check_figures(browser, expected, where)
            check_escaping(browser, where)
            # Seven days hold the same failures as today: every record is from today.
            browser.execute_script("document.querySelector('[data-days=\"7\"]').click()")
            chosen = wait_for(lambda: browser.execute_script(
                "return document.querySelector('[data-days=\"7\"]').classList"
                ".contains('chosen')"), 5)
            pareto = chart_data(browser, "pareto-chart")
            check(chosen and list(zip(pareto["labels"], pareto["sets"][0][1])) == expected["pareto"],
                  where + ": the 7 days' Pareto")
            browser.execute_script("document.querySelector('[data-days=\"1\"]').click()")
            # Both languages, the charts drawn again in each.
            for title, heading in (("Line board", "Units tested today"), ("产线看板", "今日测试台数")):
                browser.execute_script("document.getElementById('lang-toggle').click()")
                check(browser.title == title, where + ": title %r" % browser.title)
                check(browser.execute_script("return document.querySelector("
                                             "'[data-figure=units] h2').textContent") == heading,
                      where + ": heading in " + title)
                check(chart_data(browser, "hourly-chart") is not None, where + ": charts gone")
            for width, height in ((1920, 1080), (1366, 768)):
                check_layout(browser, width, height, where)
            n += 1
            check_live(browser, seed, n, where)
            check_jig(browser, url, folder, where)
            check_http(board, where)
            if where == "SQLite":
                # The board server goes away: said on screen; back, it catches up at once.
                board.stop()
                lost = wait_for(lambda: "lost" in browser.execute_script(
                    "return document.getElementById('connection').className"), 10)
                check(lost, where + ": the lost board server is not shown")
                n += 1
                check(browser.execute_script("return document.getElementById('connection')"
                                             ".textContent") != "", where + ": no words for it")
                board.start()
                check_live(browser, seed, n, where + " after the board came back")
            else:
                # The store goes away: said on screen with the last figures kept; back, cleared.
                server.stop()
                gone = wait_for(lambda: browser.execute_script(
                    "return !document.getElementById('store-state').hidden"), 15)
                check(gone, where + ": the lost store is not shown")
                check(text(browser, "units-today") != "—", where + ": the last figures were lost")
                server.start()
                back = wait_for(lambda: browser.execute_script(
                    "return document.getElementById('store-state').hidden"), 15)
                check(back, where + ": the store's return is not shown")
                n += 1
                check_live(browser, seed, n, where + " after the store came back")
            # The history of the first unit, through the page's own search.
            imei = records[0]["imei"] or records[1]["imei"]
            browser.execute_script("document.getElementById('imei-input').value = arguments[0];"
                                   "document.getElementById('history-button').click()", imei)
            rows = wait_for(lambda: browser.execute_script(
                "return document.getElementById('history').open &&"
                " document.querySelectorAll('#history-units tbody tr').length"), 5)
            check(rows == sum(r["imei"] == imei for r in records), where + ": history rows")
            seed.close()
            board.stop()
        check_refusals()
        check_threshold(stores[0][1])
        check_missing_store(folder)
    finally:
        browser.quit()
        if server:
            try:
                server.stop()
            except subprocess.CalledProcessError:
                pass
        shutil.rmtree(folder, ignore_errors=True)
    print("%d failed" % len(FAILURES) if FAILURES else "all passed")
    return 1 if FAILURES else 0


if __name__ == "__main__":
    sys.exit(main())

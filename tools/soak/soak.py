#!/usr/bin/env python3
"""The soak under chaos: the real program, driven as a user drives it,
downloads ranges of thousands of numbers from the chaos site
(chaos_site.py), is killed with SIGKILL at random moments and started again
in the same folder on the rest of the range, and after every end of the
program its folder is checked:

- log.log only grows, by whole lines of numbers in increasing order (what
  was on disk before is a prefix of what is there after);
- every number in log.log has its N.jpg, byte for byte the picture the site
  sent whole for N (and, at the end of each range, it decodes);
- no N.jpg is anything but the picture the site sent whole for N;
- no temporary (.NAME.PID-N.tmp) or spill file (Buf* in TMPDIR) outlives
  the next start, and nothing else appears;
- the program's resident memory stays under the bound;
- every run ends: the furthest number reached in a range must move on at
  least every two minutes (outside the disk-full phase), and a program whose
  run is over must end when its window is closed.

One phase runs the program under a file size limit just above what log.log
holds, so that pictures and the log meet a full disk for a while.

Restarting, the user types as "From" the number after the last one in
log.log (the first of the range when there is none): after a kill as after a
run that ended with an error box (a lasting failure the chaos caused). The
failed number is thus tried again, as are any numbers without a picture
after the last logged one. A range is done when a run ends at its last
number without an error box, or when log.log already ends with it.

    soak.py --build DIR [--minutes M] [--seed S] [--work DIR] [--numbers N]
            [--rss-mb MB] [--summary FILE]

The seed decides the site's faults (for each request: the number, page or
picture, and how often it was asked for), the pictures, the ranges, the
moments of the kills and the disk-full limits; the same seed replays them,
though the program's own timing decides which request meets which fault.
"""

import argparse
import collections
import json
import os
import queue
import random
import re
import resource
import shutil
import signal
import subprocess
import sys
import threading
import time

# The source tree stays as it is: no compiled copies beside it.
sys.dont_write_bytecode = True
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import chaos_site  # noqa: E402

# No new furthest number for this long is a hang.
HANG_SECONDS = 120.0
# A program whose run is over must have ended this long after.
CLOSE_SECONDS = 60.0
# A kill comes this many seconds after a start, at random.
KILL_AFTER = (2.0, 30.0)
# How often the program's memory and output are looked at.
POLL_SECONDS = 0.2
# A user who saw an error box takes a moment before trying again.
PAUSE_AFTER_ERROR = 0.5
# The disk-full phase: for DISK_FULL_SHARE of the soak's time (at most
# DISK_FULL_MAX seconds), each start under a file size limit (which every
# file has, not the disk as a whole): either log.log's size and a few lines
# more, so that the log's appends meet it, or a size drawn from
# DISK_FULL_PICTURES, so that pictures meet it. It begins with the first
# range begun after DISK_FULL_START of the soak's time, which gets a long
# log so that most pictures fit under the first kind of limit; or, should
# no range begin by DISK_FULL_LATEST, in the range at work then.
DISK_FULL_START = 0.35
DISK_FULL_LATEST = 0.6
DISK_FULL_SHARE = 0.2
DISK_FULL_MAX = 90.0
DISK_FULL_LINES = (1, 200)
DISK_FULL_PICTURES = (8 * 1024, 400 * 1024)
# What an earlier session left in log.log, in lines: none, a few, or a long
# log (about a megabyte).
HISTORY_LINES = [(0, 0), (1, 50), (100000, 180000)]

NUMBER_LINE = re.compile(rb"^-?\d+$")
PICTURE_NAME = re.compile(r"^(-?\d+)\.jpg$")
# A temporary file on a file system without unnamed files: .NAME.PID-N.tmp
TEMPORARY_NAME = re.compile(r"^\..+\.\d+-\d+\.tmp$")
SPILL_NAME = re.compile(r"^Buf")


# ---------------------------------------------------------------------------
# The checker


class Folder:
    """A range's folder: the program's current directory (log.log), with the
    pictures and TMPDIR inside."""

    def __init__(self, root):
        self.root = root
        self.pictures = os.path.join(root, "pictures")
        self.tmp = os.path.join(root, "tmp")
        self.log = os.path.join(root, "log.log")

    def make(self, history=b""):
        os.makedirs(self.pictures, exist_ok=True)
        os.makedirs(self.tmp, exist_ok=True)
        with open(self.log, "wb") as f:
            f.write(history)


def read_bytes(path):
    with open(path, "rb") as f:
        return f.read()


def log_numbers(log):
    """The numbers of the whole lines of a log.log."""
    return [int(line) for line in log.split(b"\r\n")[:-1] if NUMBER_LINE.match(line)]


class Checker:
    """The invariants of one folder, looked at after each end of the program.

    `canonical(N)` is N's picture as the site sends it; `sent_whole()` the
    numbers whose picture the site has sent whole so far (it may lag the
    bytes on the wire a moment, so a picture not yet in it is looked at
    again after a pause). `history`: what log.log held before the soak's
    first start, numbers of an earlier session whose pictures are not
    here."""

    def __init__(self, folder, canonical, sent_whole, pause=1.0, history=b""):
        self.folder = folder
        self.canonical = canonical
        self.sent_whole = sent_whole
        self.pause = pause
        self.history = history
        self.log_before = history
        # Temporary and spill files seen at the last check: any still there
        # after a start of the program has outlived it.
        self.leftovers = set()
        # Pictures already found good, by name: (inode, size, mtime).
        self.verified = {}

    def check(self, started_since=True):
        """The violations now, as texts. `started_since`: the program was
        started (and got past its start-up) since the last check."""
        violations = []
        log = read_bytes(self.folder.log) if os.path.exists(self.folder.log) else None
        if log is None:
            violations.append("log.log is gone")
            log = b""
        if not log.startswith(self.log_before):
            violations.append(
                "log.log lost bytes: what was on disk before (%d bytes) is not the start of "
                "what is there now (%d bytes)" % (len(self.log_before), len(log)))
        if log and not log.endswith(b"\r\n"):
            tail = log[log.rfind(b"\n") + 1:]
            violations.append("log.log ends in the middle of a line: %r" % tail[-40:])
        self.log_before = log
        if log.startswith(self.history):
            log = log[len(self.history):]
        lines = log.split(b"\r\n")
        if not lines[-1]:
            # The last line's end, or a log without lines.
            lines.pop()
        numbers = []
        for line in lines:
            if NUMBER_LINE.match(line):
                numbers.append(int(line))
            else:
                violations.append("log.log holds a line that is no number: %r" % line[:40])
        for earlier, later in zip(numbers, numbers[1:]):
            if later <= earlier:
                violations.append("log.log has %d after %d" % (later, earlier))

        pictures = {}
        now = set()
        for name in sorted(os.listdir(self.folder.pictures)):
            match = PICTURE_NAME.match(name)
            if match:
                pictures[int(match.group(1))] = name
            elif TEMPORARY_NAME.match(name):
                now.add(os.path.join(self.folder.pictures, name))
            else:
                violations.append("pictures/%s: a file the program should not leave" % name)
        for name in os.listdir(self.folder.root):
            if name in ("log.log", "pictures", "tmp"):
                continue
            if TEMPORARY_NAME.match(name):
                now.add(os.path.join(self.folder.root, name))
            else:
                violations.append("%s: a file the program should not leave beside log.log" % name)
        for name in os.listdir(self.folder.tmp):
            if SPILL_NAME.match(name) or TEMPORARY_NAME.match(name):
                now.add(os.path.join(self.folder.tmp, name))
            else:
                violations.append("tmp/%s: a file the program should not leave in TMPDIR" % name)
        if started_since:
            for path in sorted(self.leftovers & now):
                violations.append("%s outlived a start of the program" %
                                  os.path.relpath(path, self.folder.root))
        self.leftovers = now if started_since else self.leftovers | now

        for number in numbers:
            if number not in pictures:
                violations.append("%d is in log.log but %d.jpg is missing" % (number, number))
        for number, name in pictures.items():
            problem = self._picture_problem(number, os.path.join(self.folder.pictures, name))
            if problem:
                logged = " (in log.log)" if number in numbers else ""
                violations.append("%s%s: %s" % (name, logged, problem))
        return violations

    def _picture_problem(self, number, path):
        try:
            st = os.stat(path)
        except FileNotFoundError:
            return "vanished while it was checked"
        key = (st.st_ino, st.st_size, st.st_mtime_ns)
        if self.verified.get(path) == key:
            return None
        data = read_bytes(path)
        expected = self.canonical(number)
        if data != expected:
            if expected.startswith(data):
                return "cut short: %d of the %d bytes the site sends" % (len(data), len(expected))
            return "not the picture the site sends for %d (%d bytes, first %r)" % (
                number, len(data), data[:16])
        if number not in self.sent_whole():
            time.sleep(self.pause)
            if number not in self.sent_whole():
                return "the site never sent this picture whole"
        self.verified[path] = key
        return None

    def logged(self):
        """The numbers the soak's runs logged, as the last check saw them."""
        log = self.log_before
        if log.startswith(self.history):
            log = log[len(self.history):]
        return log_numbers(log)

    def undecodable(self, decode_program):
        """The pictures in the folder that do not decode completely."""
        names = sorted(n for n in os.listdir(self.folder.pictures) if PICTURE_NAME.match(n))
        bad = []
        for i in range(0, len(names), 400):
            batch = [os.path.join(self.folder.pictures, n) for n in names[i:i + 400]]
            out = subprocess.run([decode_program, "decode"] + batch, capture_output=True,
                                 text=True, errors="replace")
            bad += [line for line in out.stdout.splitlines() if line.startswith("bad ")]
            if out.returncode not in (0, 1):
                bad.append("soak-pictures decode failed with status %d" % out.returncode)
        return bad


# ---------------------------------------------------------------------------
# The site's record


class SiteRecord:
    """What the site served, read as it grows."""

    def __init__(self, path):
        self.path = path
        self.offset = 0
        self.whole = set()
        self.faults = collections.Counter()
        self.requests = 0
        self.lock = threading.Lock()

    def refresh(self):
        with self.lock:
            if not os.path.exists(self.path):
                return
            with open(self.path, "rb") as f:
                f.seek(self.offset)
                data = f.read()
            end = data.rfind(b"\n") + 1
            self.offset += end
            for line in data[:end].splitlines():
                entry = json.loads(line)
                self.requests += 1
                kind = entry["kind"]
                fault = entry["fault"]
                self.faults[(kind, fault)] += 1
                if kind == "picture" and fault == "well" and entry.get("progressive"):
                    self.faults[("picture", "well, progressive JPEG")] += 1
                if entry.get("whole"):
                    self.whole.add(entry["number"])

    def sent_whole(self):
        self.refresh()
        return self.whole


# ---------------------------------------------------------------------------
# The program


class Program:
    """One start of soak-window, its output read on a thread of its own."""

    def __init__(self, command, cwd, env, file_size_limit):
        def limits():
            if file_size_limit is not None:
                resource.setrlimit(resource.RLIMIT_FSIZE,
                                   (file_size_limit, resource.RLIM_INFINITY))

        self.started = time.monotonic()
        self.process = subprocess.Popen(command, cwd=cwd, env=env, stdin=subprocess.DEVNULL,
                                        stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                                        preexec_fn=limits)
        self.lines = queue.Queue()
        self.output = collections.deque(maxlen=40)
        threading.Thread(target=self._read, daemon=True).start()

    def _read(self):
        for raw in self.process.stdout:
            line = raw.decode("utf-8", "replace").rstrip("\n")
            self.output.append(line)
            self.lines.put(line)
        self.lines.put(None)

    def memory_kb(self):
        """Resident memory now and its peak so far, in KiB (0 when gone)."""
        rss = hwm = 0
        try:
            with open("/proc/%d/status" % self.process.pid) as f:
                for line in f:
                    if line.startswith("VmRSS:"):
                        rss = int(line.split()[1])
                    elif line.startswith("VmHWM:"):
                        hwm = int(line.split()[1])
        except (OSError, ValueError):
            pass
        return rss, hwm

    def kill(self):
        if self.process.poll() is None:
            self.process.send_signal(signal.SIGKILL)
        self.process.wait()


# ---------------------------------------------------------------------------
# The soak


def normalized_error(text):
    """An error box's text with its numbers, addresses and sizes folded, so
    that boxes of one kind count together."""
    text = re.sub(r"http://[^\" ]*", "URL", text)
    return re.sub(r"\d+", "N", text)


class Soak:
    def __init__(self, args):
        self.args = args
        self.seed = args.seed
        self.random = random.Random("soak/%s" % self.seed)
        self.work = os.path.abspath(args.work)
        self.window = os.path.abspath(os.path.join(args.build, "tools", "soak-window"))
        self.decoder = os.path.abspath(os.path.join(args.build, "tools", "soak-pictures"))
        self.minutes = args.minutes
        self.rss_bound_kb = args.rss_mb * 1024
        self.violations = []
        self.counts = collections.Counter()
        self.errors = collections.Counter()
        self.peak_rss_kb = 0
        self.reached = 0
        self.logged = 0
        self.numbers = 0
        self.rounds_done = 0
        self.rounds = 0
        self.site = None

    def say(self, text):
        print("soak %6.1fs: %s" % (time.monotonic() - self.t0, text), flush=True)

    def violation(self, text, where):
        full = "%s [%s]" % (text, where)
        self.violations.append(full)
        self.say("VIOLATION " + full)

    # -- set-up ----------------------------------------------------------

    def make_pool(self):
        pool = os.path.join(self.work, "pool")
        if not os.path.isdir(pool) or not os.listdir(pool):
            os.makedirs(pool, exist_ok=True)
            subprocess.run([self.decoder, "make", pool], check=True)
            names = [os.path.join(pool, n) for n in sorted(os.listdir(pool))]
            out = subprocess.run([self.decoder, "decode"] + names, capture_output=True, text=True)
            if out.returncode != 0:
                raise SystemExit("soak: the pool does not decode:\n" + out.stdout)
        return pool

    def start_site(self, pool):
        self.record_path = os.path.join(self.work, "site-record.jsonl")
        if os.path.exists(self.record_path):
            os.remove(self.record_path)
        site = os.path.join(os.path.dirname(os.path.abspath(__file__)), "chaos_site.py")
        self.site = subprocess.Popen(
            [sys.executable, site, "--seed", self.seed, "--pool", pool, "--record",
             self.record_path, "--chaos", str(self.args.chaos)],
            stdout=subprocess.PIPE, text=True)
        ports = self.site.stdout.readline().split()
        if len(ports) != 3 or ports[0] != "ports":
            raise SystemExit("soak: the chaos site did not start")
        self.port = int(ports[1])
        self.record = SiteRecord(self.record_path)
        self.pictures = chaos_site.Pictures(pool, self.seed)

    # -- the soak --------------------------------------------------------

    def run(self):
        self.t0 = time.monotonic()
        os.makedirs(self.work, exist_ok=True)
        self.say("seed %s (replay: make soak SOAK_SEED=%s SOAK_MINUTES=%g)" %
                 (self.seed, self.seed, self.minutes))
        # Qt's own place for run-time files, which it would otherwise make in
        # TMPDIR.
        self.runtime = os.path.join(self.work, "runtime")
        os.makedirs(self.runtime, mode=0o700, exist_ok=True)
        self.start_site(self.make_pool())
        total = self.minutes * 60.0
        self.deadline = self.t0 + total
        self.full_from = self.full_until = float("inf")
        try:
            while time.monotonic() < self.deadline:
                self.run_range()
        finally:
            self.site.terminate()
            self.site.wait()
        self.record.refresh()
        return self.summary()

    def begin_disk_full(self):
        now = time.monotonic()
        self.full_from = now
        self.full_until = now + min(DISK_FULL_SHARE * self.minutes * 60.0, DISK_FULL_MAX)
        self.full_range = self.rounds
        self.say("disk-full phase: %.0f s from now" % (self.full_until - now))

    def disk_full_due(self, latest=False):
        share = DISK_FULL_LATEST if latest else DISK_FULL_START
        return (self.full_from == float("inf")
                and time.monotonic() >= self.t0 + share * self.minutes * 60.0)

    def quiet_for(self, progress_at):
        """Seconds without progress since `progress_at`; the disk-full phase,
        where no picture larger than the limit can be saved, does not count."""
        now = time.monotonic()
        if now >= self.full_from:
            progress_at = max(progress_at, min(now, self.full_until))
        return now - progress_at

    def run_range(self):
        self.rounds += 1
        size = self.args.numbers
        first = self.random.randint(200, 23000 - size)
        last = first + size - 1
        self.numbers += size
        folder = Folder(os.path.join(self.work, "range-%d" % self.rounds))
        if os.path.exists(folder.root):
            shutil.rmtree(folder.root)
        lines = self.random.randint(*self.random.choice(HISTORY_LINES))
        disk_full = self.disk_full_due()
        if disk_full:
            lines = self.random.randint(*HISTORY_LINES[-1])
        history = b"".join(b"%d\r\n" % n for n in range(1, lines + 1))
        folder.make(history)
        checker = Checker(folder, self.pictures.canonical, self.record.sent_whole,
                          history=history)
        before = len(self.violations)
        self.say("range %d: %d to %d in %s, log.log of %d lines" %
                 (self.rounds, first, last, folder.root, lines))
        if disk_full:
            self.begin_disk_full()
        furthest = first - 1
        progress_at = time.monotonic()
        start_from = first
        done = False
        reported = set()
        while not done and time.monotonic() < self.deadline:
            if self.disk_full_due(latest=True):
                self.begin_disk_full()
            disk_full = self.full_from <= time.monotonic() < self.full_until
            limit = None
            if disk_full:
                if self.random.random() < 0.5:
                    limit = os.path.getsize(folder.log) + self.random.randint(*DISK_FULL_LINES)
                else:
                    limit = self.random.randint(*DISK_FULL_PICTURES)
                self.counts["runs under a file size limit"] += 1
            outcome = self.run_program(folder, start_from, last, limit, progress_at, furthest)
            furthest = max(furthest, outcome["furthest"])
            if outcome["progressed"]:
                progress_at = outcome["progressed"]
            if self.args.verbose:
                self.say("run %d from %d%s: %s, furthest %d, errors %s" % (
                    self.counts["runs"], start_from, "" if limit is None else
                    " (file size limit %d)" % limit, "killed" if outcome["killed"] else "ended",
                    outcome["furthest"], outcome["errors"]))
            where = "seed %s, range %d, run %d, %.1fs" % (
                self.seed, self.rounds, self.counts["runs"], time.monotonic() - self.t0)
            for problem in outcome["problems"]:
                self.violation(problem, where)
            # A violation that stays (a line cut in log.log) is told once.
            for problem in checker.check(started_since=outcome["started"]):
                if problem not in reported:
                    reported.add(problem)
                    self.violation(problem, where)
            logged = checker.logged()
            start_from = logged[-1] + 1 if logged else first
            if outcome["clean_end"] or start_from > last:
                done = True
            elif outcome["errors"]:
                self.counts["restarts after an error box"] += 1
                time.sleep(PAUSE_AFTER_ERROR)
            elif outcome["killed"]:
                self.counts["restarts after a kill"] += 1
            if not done and self.quiet_for(progress_at) > HANG_SECONDS:
                self.violation("no progress for %d s: the furthest number is still %d" %
                               (HANG_SECONDS, furthest), where)
                progress_at = time.monotonic()
        self.reached += max(0, furthest - first + 1)
        self.logged += len(checker.logged())
        for bad in checker.undecodable(self.decoder):
            self.violation(bad, "seed %s, range %d, at its end" % (self.seed, self.rounds))
        if done:
            self.rounds_done += 1
        self.say("range %d %s: %d numbers logged, furthest %d" %
                 (self.rounds, "done" if done else "cut by the soak's end",
                  len(checker.logged()), furthest))
        if len(self.violations) == before and not self.args.keep:
            shutil.rmtree(folder.root)

    def run_program(self, folder, first, last, limit, progress_at, furthest):
        """One start of the program on first..last; what became of it."""
        env = dict(os.environ)
        env.update({"QT_QPA_PLATFORM": "offscreen", "TMPDIR": folder.tmp, "LANG": "C",
                    "LC_ALL": "C", "XDG_RUNTIME_DIR": self.runtime})
        for name in ("http_proxy", "https_proxy", "HTTPS_PROXY", "all_proxy", "ALL_PROXY"):
            env.pop(name, None)
        command = [self.window, str(first), str(last), "--site",
                   "http://127.0.0.1:%d" % self.port, "--dir", folder.pictures + "/"]
        if self.args.parallel:
            command += ["--parallel", str(self.args.parallel)]
        self.counts["runs"] += 1
        program = Program(command, folder.root, env, limit)
        # The soak's end is a kill too.
        kill_at = min(program.started + self.random.uniform(*KILL_AFTER), self.deadline)
        outcome = {"furthest": furthest, "progressed": None, "problems": [], "errors": [],
                   "killed": False, "clean_end": False, "started": False}
        log_size = os.path.getsize(folder.log)
        ended_at = None
        ended_number = None
        finished = False
        while not finished:
            deadline = time.monotonic() + POLL_SECONDS
            while True:
                try:
                    line = program.lines.get(timeout=max(0.0, deadline - time.monotonic()))
                except queue.Empty:
                    break
                if line is None:
                    finished = True
                    break
                if line.startswith("at "):
                    outcome["started"] = True
                    number = int(line[3:])
                    if number > outcome["furthest"]:
                        outcome["furthest"] = number
                        outcome["progressed"] = time.monotonic()
                elif line.startswith("error: "):
                    outcome["errors"].append(line[7:])
                    self.errors[normalized_error(line[7:])] += 1
                elif line.startswith("run ended at "):
                    ended_at = time.monotonic()
                    ended_number = int(line[len("run ended at "):])
                    if min(ended_number, last) > outcome["furthest"]:
                        outcome["furthest"] = min(ended_number, last)
                        outcome["progressed"] = ended_at
                elif line == "window stays open":
                    # The user gives up on the window and ends the program.
                    self.counts["kills of a window that stayed open"] += 1
                    program.kill()
            rss, hwm = program.memory_kb()
            self.peak_rss_kb = max(self.peak_rss_kb, hwm, rss)
            if rss > self.rss_bound_kb:
                outcome["problems"].append("resident memory %d MB is over the bound of %d MB" %
                                           (rss // 1024, self.rss_bound_kb // 1024))
                program.kill()
            size = os.path.getsize(folder.log)
            if size > log_size:
                log_size = size
                outcome["progressed"] = time.monotonic()
            now = time.monotonic()
            if finished or program.process.poll() is not None:
                continue
            if ended_at is None and now >= kill_at:
                outcome["killed"] = True
                self.counts["kills"] += 1
                program.kill()
            elif ended_at is not None and now - ended_at > CLOSE_SECONDS:
                outcome["problems"].append("the program did not end %d s after its run was over"
                                           % CLOSE_SECONDS)
                program.kill()
            elif (ended_at is None and self.quiet_for(max(progress_at, outcome["progressed"] or 0))
                  > HANG_SECONDS):
                outcome["problems"].append(
                    "no progress for %d s: the run stays at %d; its last output: %s" %
                    (HANG_SECONDS, outcome["furthest"], " | ".join(program.output)))
                program.kill()
        status = program.process.wait()
        if not outcome["killed"] and status != 0 and status != -signal.SIGKILL:
            outcome["problems"].append("the program ended with status %d; its last output: %s"
                                       % (status, " | ".join(program.output)))
        if ended_number is not None and not outcome["errors"]:
            # A run that went through its range is one past its last number.
            if ended_number == last + 1:
                outcome["clean_end"] = True
            else:
                outcome["problems"].append("the run ended at %d, before %d, without an error box"
                                           % (ended_number, last))
        return outcome

    # -- the summary -----------------------------------------------------

    def summary(self):
        minutes = (time.monotonic() - self.t0) / 60.0
        faults = collections.Counter()
        for (kind, fault), count in self.record.faults.items():
            faults[(kind, fault)] += count
        lines = []
        lines.append("SOAK seed %s, %.1f minutes (make soak SOAK_SEED=%s SOAK_MINUTES=%g)" %
                     (self.seed, minutes, self.seed, self.minutes))
        lines.append("- ranges: %d (%d done, the last cut by the soak's end when not), "
                     "%d numbers each, --parallel %s" %
                     (self.rounds, self.rounds_done, self.args.numbers,
                      self.args.parallel or "default (6)"))
        lines.append("- numbers: %d in the ranges, %d reached, %d logged" %
                     (self.numbers, self.reached, self.logged))
        lines.append("- starts of the program: %d; kills (SIGKILL at random): %d; restarts after "
                     "a kill: %d, after an error box: %d; starts under a file size limit: %d" %
                     (self.counts["runs"], self.counts["kills"],
                      self.counts["restarts after a kill"],
                      self.counts["restarts after an error box"],
                      self.counts["runs under a file size limit"]))
        if self.counts["kills of a window that stayed open"]:
            lines.append("- windows that stayed open after the run (a failed save), ended by "
                         "the user: %d" % self.counts["kills of a window that stayed open"])
        if self.full_from == float("inf"):
            lines.append("- disk-full phase: never begun (no range began in time)")
        else:
            lines.append("- disk-full phase: %.0f s from %.0f s on, in range %d" % (
                self.full_until - self.full_from, self.full_from - self.t0, self.full_range))
        lines.append("- requests served: %d" % self.record.requests)
        for kind in ("page", "picture", "other"):
            served = sorted(((f, c) for (k, f), c in faults.items() if k == kind),
                            key=lambda item: (-item[1], item[0]))
            if served:
                lines.append("  - %s: %s" % (kind, ", ".join("%s %d" % fc for fc in served)))
        lines.append("- error boxes: %d" % sum(self.errors.values()))
        for text, count in self.errors.most_common():
            lines.append("  - %d x %s" % (count, text))
        lines.append("- peak resident memory: %.1f MB (bound %d MB)" %
                     (self.peak_rss_kb / 1024.0, self.rss_bound_kb // 1024))
        lines.append("- invariant violations: %d" % len(self.violations))
        for v in self.violations:
            lines.append("  - " + v)
        text = "\n".join(lines)
        print(text, flush=True)
        if self.args.summary:
            with open(self.args.summary, "w") as f:
                f.write(text + "\n")
        return 1 if self.violations else 0


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--build", required=True,
                        help="build tree with tools/soak-window and tools/soak-pictures")
    parser.add_argument("--minutes", type=float, default=10.0)
    parser.add_argument("--seed", default=None)
    parser.add_argument("--work", default=None, help="default: BUILD/soak-work")
    parser.add_argument("--numbers", type=int, default=None,
                        help="numbers per range (default: what the soak's time can finish, "
                        "150 a minute, 300 to 3000)")
    parser.add_argument("--parallel", type=int, default=None,
                        help="the program's --parallel (default: the program's own)")
    parser.add_argument("--rss-mb", type=int, default=300, help="bound on resident memory")
    parser.add_argument("--chaos", type=float, default=1.0, help="scales every fault's weight")
    parser.add_argument("--summary", default=None, help="also write the summary here")
    parser.add_argument("--keep", action="store_true", help="keep the ranges' folders")
    parser.add_argument("--verbose", action="store_true", help="tell each start's outcome")
    args = parser.parse_args()
    if not args.seed:
        args.seed = str(random.SystemRandom().randrange(1, 10**9))
    if not args.numbers:
        args.numbers = max(300, min(3000, int(args.minutes * 150)))
    if not args.work:
        args.work = os.path.join(args.build, "soak-work")
    return Soak(args).run()


if __name__ == "__main__":
    sys.exit(main())

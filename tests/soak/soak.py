#!/usr/bin/env python3
"""The agent and the product under faults.

quil-agent runs the connector module and takes a steady stream of agent tasks on its standard input,
while quil-product is killed and restarted, hangs, slows down, answers error statuses, garbage and
oversize replies, abandons its broadcast mutex and has its broadcast area corrupted, and the agent
itself is killed (SIGKILL) and stopped (SIGTERM) while the product hangs past its grace period, then
started again. One round cuts the broadcast area short under the reading module and restarts the
product: the agent must go on storing what the new product reports. At the end the run prints a
tally and fails unless every task the agent acknowledged is accounted for, no process crashed or
hung, the agent's memory stayed flat and no recovery secret reached a log line, a text output or
any file of the agent's folder (raw bytes, WAL included).

    soak.py --minutes M --agent BIN --product BIN --module LIB [--keep]
"""
import argparse
import base64
import json
import os
import re
import random
import shutil
import signal
import sqlite3
import statistics
import subprocess
import sys
import tempfile
import threading
import time
import uuid

TASK_RESULT_EVENT = 10368
CANCELLED_CODE = 0x10000009B
STATE_RETRY = 20
STATE_FAILED = 40
# Symbols of the task result event.
FIRST_ID, STATE, CODE = 2842, 2850, 2848

# Agent tasks that carry identifiers and so must each end in a task result event.
TASK_KINDS = [
    {"task": "block-password"},
    {"task": "invalidate-password"},
    {"task": "wipe-password"},
    {"task": "maintenance-on", "boots": 3},
    {"task": "maintenance-off"},
]

# Faults played in turn; each is (name, control lines, seconds to let it act). Every fault is cleared
# afterwards, so the module always gets a working product back.
FAULTS = [
    ("error status", [{"op": "fault", "kind": "status", "status": 14, "count": 3}], 3),
    ("kill", "kill", 3),
    ("truncated area", "truncate-area", 3),
    ("oversize", [{"op": "fault", "kind": "oversize", "count": 2}], 3),
    ("held mutex", [{"op": "hold-mutex", "ms": 3000}], 4),
    ("abandoned mutex", "die-holding-mutex", 3),
    ("short message", [{"op": "fault", "kind": "short", "count": 2}], 3),
    ("corrupt header", [{"op": "corrupt-header", "corrupt": True}], 4),
    ("lying length", [{"op": "fault", "kind": "lying-length", "count": 2}], 3),
    ("slow replies", [{"op": "fault", "kind": "hang", "ms": 1500, "count": 3}], 5),
    ("short payload", [{"op": "fault", "kind": "short-payload", "count": 2}], 3),
    ("dropped connection", [{"op": "fault", "kind": "drop", "count": 2}], 3),
    ("hang", [{"op": "fault", "kind": "hang", "ms": 8000, "count": 1}], 9),
    ("pings refused", [{"op": "pings", "answer": False}], 3),
    ("agent killed", "kill-agent", 3),
    ("agent stopped while the product hangs", "stop-agent-hung", 3),
]
# What the broadcast area is cut to: less than its header.
TRUNCATED_AREA_BYTES = 64
# How long the module has to store a task result from the product started after the cut.
STORED_AFTER_TRUNCATION_DEADLINE = 45
# Longer than the agent's grace period (5 s) plus its forced stop.
HANG_PAST_GRACE_MS = 12000
# The agent's grace period, its forced stop and a margin for a busy machine.
STOP_DEADLINE = 20
EXIT_FORCED = 2


class Soak:
    def __init__(self, args):
        self.args = args
        self.work = tempfile.mkdtemp(prefix="quil-soak-")
        self.env = dict(os.environ, QUIL_OBJECT_ROOT=os.path.join(self.work, "root"))
        os.makedirs(self.env["QUIL_OBJECT_ROOT"])
        self.control = os.path.join(self.work, "product.sock")
        self.db = os.path.join(self.work, "agent.db")
        self.lock = threading.Lock()
        # Held while a task goes to the agent and while the agent is replaced, never with self.lock.
        self.agent_lock = threading.RLock()
        self.sent = {}            # first id -> task kind
        self.acknowledged = set() # first ids the agent answered ok
        self.agent_runs = 0
        self.agent_kills = 0
        self.forced_stops = 0
        self.at_product = set()   # first ids whose result the product held when it went away
        self.secrets = []
        self.problems = []
        self.rss = []
        self.faults_played = {}
        self.after_truncation = []  # task results stored after each truncate-and-restart round
        self.product = None
        self.product_runs = 0
        self.answers = 0
        self.stop = threading.Event()

    # --- processes -------------------------------------------------------------------------------

    def start_product(self):
        self.product_runs += 1
        log = open(os.path.join(self.work, "product-%d.log" % self.product_runs), "w")
        self.product = subprocess.Popen([self.args.product, "serve", "--control", self.control],
                                        env=self.env, stdout=log, stderr=log)
        self.wait_for(lambda: self.ctl({"op": "ping"}) is not None, 20, "the product to serve")

    def expect_product_end(self, codes):
        code = self.product.wait(timeout=20)
        if code not in codes:
            self.problem("product ended with %s" % code)

    def start_agent(self):
        self.agent_runs += 1
        out = open(os.path.join(self.work, "agent-%d.out" % self.agent_runs), "w")
        err = open(os.path.join(self.work, "agent-%d.err" % self.agent_runs), "w")
        self.agent = subprocess.Popen(
            [self.args.agent, "run", "--db", self.db, "--module", self.args.module,
             "--log", os.path.join(self.work, "agent.log"), "--control", os.path.join(self.work, "agent.sock")],
            env=self.env, stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=err, text=True, bufsize=1)
        threading.Thread(target=self.read_answers, args=(self.agent, out), daemon=True).start()

    def read_answers(self, agent, out):
        for line in agent.stdout:
            out.write(line)
            out.flush()
            answer = json.loads(line)
            with self.lock:
                self.answers += 1
                if not answer.get("ok", False):
                    self.problems.append("agent refused a task: " + line.strip())
                elif answer.get("ids"):
                    self.acknowledged.add(answer["ids"][0].lower())

    def ctl(self, request, timeout=10):
        try:
            # The request goes on standard input: on the command line every user could read its secrets.
            done = subprocess.run([self.args.product, "ctl", "--control", self.control, "-"],
                                  input=json.dumps(request), env=self.env, capture_output=True, text=True,
                                  timeout=timeout)
        except subprocess.TimeoutExpired:
            return None
        return json.loads(done.stdout) if done.returncode == 0 and done.stdout.strip() else None

    def wait_for(self, condition, seconds, what):
        deadline = time.time() + seconds
        while time.time() < deadline:
            if condition():
                return True
            time.sleep(0.2)
        raise RuntimeError("gave up waiting for " + what)

    def problem(self, text):
        with self.lock:
            self.problems.append(text)
        print("soak: " + text, flush=True)

    # --- the stream of tasks ---------------------------------------------------------------------

    def send(self, task):
        """False when the agent is gone (killed by a fault): the task then was never acknowledged."""
        with self.agent_lock:
            try:
                self.agent.stdin.write(json.dumps(task) + "\n")
                self.agent.stdin.flush()
                return True
            except (BrokenPipeError, ValueError):
                return False

    def send_tasks(self):
        count = 0
        while not self.stop.is_set():
            ids = [str(uuid.uuid4()) for _ in range(3)]
            task = dict(random.choice(TASK_KINDS), ids=ids)
            with self.lock:
                self.sent[ids[0]] = task["task"]
            self.send(task)
            count += 1
            if count % 10 == 0:
                self.send({"task": "query", "kind": 3})
            self.stop.wait(self.args.interval)

    def add_secret(self):
        secret = "SOAK-%06d-%06d" % (random.randrange(10**6), random.randrange(10**6))
        self.secrets.append(secret)
        uid = "soak-%d" % len(self.secrets)
        self.ctl({"op": "add-recovery", "passwords": [{"Uid": uid, "DeviceId": "disk-0", "Index": "0",
                                                       "Value": secret}]})

    # --- faults ----------------------------------------------------------------------------------

    def remember_queued_results(self):
        """What the product finished but the module has not collected yet dies with the product: every
        task whose result the product queued, as its log names them (a task collected in time has its
        event and counts as finished anyway)."""
        path = os.path.join(self.work, "product-%d.log" % self.product_runs)
        with open(path, errors="replace") as f:
            for line in f:
                found = re.search(r"task result queued for (\S+)", line)
                if found:
                    with self.lock:
                        self.at_product.add(found.group(1).lower())

    def replace_agent(self, stop):
        """Ends the agent with stop and starts a new one on the same database; the sender pauses."""
        with self.agent_lock:
            stop()
            self.start_agent()

    def kill_agent(self):
        self.agent.kill()
        self.agent.wait(timeout=20)
        self.agent_kills += 1

    def stop_agent_while_hung(self):
        """SIGTERM while a request hangs past the grace period: the agent must force the module and
        end with 2 in time."""
        self.ctl({"op": "fault", "kind": "hang", "ms": HANG_PAST_GRACE_MS, "count": 1})
        self.send({"task": "query", "kind": 1})
        time.sleep(1)
        self.agent.send_signal(signal.SIGTERM)
        started = time.time()
        try:
            code = self.agent.wait(timeout=STOP_DEADLINE)
        except subprocess.TimeoutExpired:
            self.agent.kill()
            self.agent.wait()
            self.problem("SIGTERM did not end the agent within %d s while the product hung" % STOP_DEADLINE)
            return
        self.forced_stops += code == EXIT_FORCED
        print("soak: agent stopped with %d after %.1f s while the product hung" % (code, time.time() - started),
              flush=True)
        if code not in (0, EXIT_FORCED):
            self.problem("the agent stopped with %d while the product hung" % code)

    def last_sequence(self):
        connection = sqlite3.connect("file:%s?mode=ro" % self.db, uri=True, timeout=30)
        try:
            return connection.execute("SELECT coalesce(max(sequence), 0) FROM messages").fetchone()[0]
        finally:
            connection.close()

    def results_after(self, sequence):
        connection = sqlite3.connect("file:%s?mode=ro" % self.db, uri=True, timeout=30)
        try:
            return connection.execute("SELECT count(*) FROM messages WHERE sequence > ? AND type = ?",
                                      (sequence, TASK_RESULT_EVENT)).fetchone()[0]
        finally:
            connection.close()

    def truncate_area_and_restart(self):
        """Cuts the broadcast area short while the module reads it, then replaces the product: the
        module must treat the cut as the area going away and read the new product's area."""
        objects = os.path.join(self.env["QUIL_OBJECT_ROOT"], "BaseNamedObjects")
        areas = [name for name in os.listdir(objects) if name.endswith("Broadcast")]
        if not areas:
            self.problem("no broadcast area to truncate")
            return
        os.truncate(os.path.join(objects, areas[0]), TRUNCATED_AREA_BYTES)
        self.stop.wait(2)
        self.product.kill()
        self.expect_product_end([-signal.SIGKILL])
        self.remember_queued_results()
        self.start_product()
        mark = self.last_sequence()
        deadline = time.time() + STORED_AFTER_TRUNCATION_DEADLINE
        while time.time() < deadline and self.results_after(mark) == 0:
            self.check_agent_alive()
            time.sleep(0.5)
        stored = self.results_after(mark)
        self.after_truncation.append(stored)
        if stored == 0:
            self.problem("no task result stored within %d s after the area was cut and the product restarted"
                         % STORED_AFTER_TRUNCATION_DEADLINE)

    def play(self, name, action, seconds):
        self.faults_played[name] = self.faults_played.get(name, 0) + 1
        if action in ("kill-agent", "stop-agent-hung"):
            self.replace_agent(self.kill_agent if action == "kill-agent" else self.stop_agent_while_hung)
            self.stop.wait(seconds)
            self.ctl({"op": "clear-faults"})
            return
        if action == "truncate-area":
            self.truncate_area_and_restart()
            self.stop.wait(seconds)
            return
        if action in ("kill", "die-holding-mutex"):
            if action == "kill":
                self.product.kill()
                self.expect_product_end([-signal.SIGKILL])
            else:
                self.ctl({"op": "die-holding-mutex"})
                self.expect_product_end([70])
            self.remember_queued_results()
            self.stop.wait(seconds)
            self.start_product()
            self.add_secret()
            return
        for line in action:
            if self.ctl(line) is None:
                self.problem("the product refused control line %s" % json.dumps(line))
        self.stop.wait(seconds)
        self.ctl({"op": "clear-faults"})
        self.ctl({"op": "release-mutex"})
        self.ctl({"op": "corrupt-header", "corrupt": False})

    def check_product_alive(self):
        code = self.product.poll()
        if code is not None:
            self.problem("the product ended by itself with %s" % code)
            self.start_product()

    def check_agent_alive(self):
        if self.agent.poll() is not None:
            raise RuntimeError("the agent ended during the run with %s" % self.agent.returncode)

    def sample_memory(self):
        with open("/proc/%d/status" % self.agent.pid) as status:
            for line in status:
                if line.startswith("VmRSS:"):
                    self.rss.append(int(line.split()[1]))

    def run_faults(self, deadline):
        turn = 0
        while time.time() < deadline:
            name, action, seconds = FAULTS[turn % len(FAULTS)]
            turn += 1
            self.play(name, action, seconds)
            self.check_product_alive()
            self.check_agent_alive()
            self.sample_memory()
            if turn % 4 == 0:
                self.add_secret()
            self.stop.wait(2)

    # --- the verdict -----------------------------------------------------------------------------

    def events(self):
        """First id -> list of (state, code) of the task result events in the agent's database."""
        found = {}
        connection = sqlite3.connect("file:%s?mode=ro" % self.db, uri=True, timeout=30)
        try:
            rows = connection.execute("SELECT content FROM messages WHERE type = ?", (TASK_RESULT_EVENT,))
            for (content,) in rows:
                for row in json.loads(content).get("rows", []):
                    symbols = {symbol["id"]: symbol.get("value") for symbol in row}
                    first = str(symbols.get(FIRST_ID, "")).lower()
                    found.setdefault(first, []).append((symbols.get(STATE), symbols.get(CODE)))
        finally:
            connection.close()
        return found

    @staticmethod
    def number(value):
        if isinstance(value, str):
            return int(value, 16) if value.lower().startswith("0x") else int(value)
        return int(value) if value is not None else None

    def classify(self, first, events):
        final = [(self.number(s), self.number(c)) for s, c in events if self.number(s) != STATE_RETRY]
        if any(code == CANCELLED_CODE for _, code in final):
            return "cancelled"
        if any(state == STATE_FAILED for state, _ in final):
            return "failed"
        if final:
            return "finished"
        if first in self.at_product:
            return "lost with the product"
        return "unaccounted"

    def tally(self):
        events = self.events()
        counts = {}
        with self.lock:
            sent = dict(self.sent)
            acknowledged = set(self.acknowledged)
        self.unaccounted = []
        for first in sent:
            if first not in acknowledged:
                counts["never acknowledged"] = counts.get("never acknowledged", 0) + 1
                continue
            kind = self.classify(first, events.get(first, []))
            counts[kind] = counts.get(kind, 0) + 1
            if kind == "unaccounted":
                self.unaccounted.append("%s %s" % (sent[first], first))
        return sent, counts

    def drain(self, seconds):
        """Waits, with a healthy product, until every task has its answer or time is up."""
        deadline = time.time() + seconds
        while time.time() < deadline:
            _, counts = self.tally()
            if counts.get("unaccounted", 0) == 0:
                break
            time.sleep(2)
        return self.tally()

    def leaked_secrets(self):
        # Every file of the agent's folder as raw bytes: the database, its WAL, the logs, the outputs.
        texts = []
        for name in sorted(os.listdir(self.work)):
            path = os.path.join(self.work, name)
            if os.path.isfile(path):
                with open(path, "rb") as f:
                    texts.append((name, f.read().decode("latin-1")))
        for flags in ([], ["--json"]):
            done = subprocess.run([self.args.agent, "logs", "--db", self.db] + flags, env=self.env,
                                  capture_output=True, text=True, timeout=120)
            texts.append(("agent logs " + " ".join(flags), done.stdout + done.stderr))
        leaks = []
        for secret in self.secrets:
            forms = [secret, base64.b64encode(secret.encode()).decode()]
            for name, text in texts:
                if any(form in text for form in forms):
                    leaks.append("%s in %s" % (secret, name))
        return leaks

    def memory_verdict(self):
        if len(self.rss) < 8:
            return None
        quarter = len(self.rss) // 4
        early = statistics.median(self.rss[quarter:2 * quarter])
        late = statistics.median(self.rss[-quarter:])
        if late > early * 1.25 + 16 * 1024:
            return "agent memory grew from %d kB to %d kB" % (early, late)
        return None

    def stop_agent(self):
        self.agent.stdin.close()
        self.agent.send_signal(signal.SIGTERM)
        try:
            code = self.agent.wait(timeout=30)
        except subprocess.TimeoutExpired:
            self.agent.kill()
            return "the agent did not stop within 30 s (deadlock)"
        if code != 0:
            return "the agent stopped with exit code %d (2: the module had to be forced)" % code
        return None

    def check_modes(self):
        """The agent's files are owner-only whatever the umask."""
        loose = []
        for name in sorted(os.listdir(self.work)):
            path = os.path.join(self.work, name)
            if name.startswith("agent.") and os.path.isfile(path) and os.stat(path).st_mode & 0o077:
                loose.append("%s is %o" % (name, os.stat(path).st_mode & 0o777))
        return loose

    def run(self):
        subprocess.run([self.args.product, "install"], env=self.env, check=True, capture_output=True)
        self.start_product()
        self.add_secret()
        self.start_agent()
        time.sleep(2)
        started = time.time()
        sender = threading.Thread(target=self.send_tasks, daemon=True)
        sender.start()
        self.run_faults(started + self.args.minutes * 60)
        self.stop.set()
        sender.join()
        self.ctl({"op": "clear-faults"})
        self.send({"task": "query", "kind": 3})
        sent, counts = self.drain(self.args.drain)
        self.sample_memory()
        for text in [self.stop_agent(), self.memory_verdict()] + self.leaked_secrets() + self.check_modes():
            if text:
                self.problem(text)
        self.product.send_signal(signal.SIGTERM)
        self.expect_product_end([0])
        self.report(time.time() - started, sent, counts)
        return not self.problems and counts.get("unaccounted", 0) == 0

    def report(self, duration, sent, counts):
        print("soak: %.0f s, %d agent tasks sent, %d acknowledged, %d answers, product started %d times"
              % (duration, len(sent), len(self.acknowledged), self.answers, self.product_runs))
        print("soak: agent started %d times, killed %d times, forced to stop %d times while the product hung"
              % (self.agent_runs, self.agent_kills, self.forced_stops))
        print("soak: faults played: " + ", ".join("%s %d" % kv for kv in sorted(self.faults_played.items())))
        for kind in ("finished", "failed", "cancelled", "lost with the product", "never acknowledged",
                     "unaccounted"):
            print("soak:   %-22s %6d" % (kind, counts.get(kind, 0)))
        if self.after_truncation:
            print("soak: task results stored after the broadcast area was cut and the product restarted: %s"
                  % ", ".join(str(n) for n in self.after_truncation))
        if self.rss:
            print("soak: agent memory %d kB at start, %d kB at the end, %d kB at most"
                  % (self.rss[0], self.rss[-1], max(self.rss)))
        print("soak: %d recovery secrets checked in every file of the agent's folder and its text outputs"
              % len(self.secrets))
        for task in getattr(self, "unaccounted", []):
            print("soak: UNACCOUNTED " + task)
        for text in self.problems:
            print("soak: PROBLEM " + text)
        print("soak: work folder " + self.work)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--minutes", type=float, default=10)
    parser.add_argument("--agent", required=True)
    parser.add_argument("--product", required=True)
    parser.add_argument("--module", required=True)
    parser.add_argument("--interval", type=float, default=0.5, help="seconds between agent tasks")
    parser.add_argument("--drain", type=float, default=90, help="seconds to wait for the last answers")
    parser.add_argument("--keep", action="store_true", help="keep the work folder even on success")
    args = parser.parse_args()
    soak = Soak(args)
    try:
        ok = soak.run()
    except Exception as error:  # pylint: disable=broad-except
        print("soak: FAILED: %s (work folder %s)" % (error, soak.work))
        for process in (soak.product, getattr(soak, "agent", None)):
            if process is not None and process.poll() is None:
                process.kill()
        return 1
    print("soak: " + ("PASSED" if ok else "FAILED"))
    if ok and not args.keep:
        shutil.rmtree(soak.work)
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main())

#!/usr/bin/env python3
"""Runs the fixed requests through two builds and compares what they leave;
bench/journal/same_journal.sh prepares Wine and calls it.
    same_journal.py VECTORS WORK BEFORE_BUILD AFTER_BUILD REPORTS
"""
import base64
import difflib
import json
import os
import pwd
import re
import shutil
import subprocess
import sys
import time

VECTORS, WORK, BEFORE, AFTER, REPORTS = sys.argv[1:6]
ONLY = re.compile(os.environ.get("ZYP_SAME_JOURNAL_ONLY", ""))
WINE64 = os.environ["ZYP_WINE64"]
PREFIX = os.environ["WINEPREFIX"]
WINE_ENV = os.path.join(os.path.dirname(VECTORS), "..", "cmake", "wine-env.sh")
PROGRAMS = ("ZYPQueueAddURL.exe", "ZYPQueueManager.exe", "ZYPLinkExplorer.exe")
BIN = os.path.join(WORK, "bin")
TEMP = os.path.join(PREFIX, "drive_c", "users", pwd.getpwuid(os.getuid()).pw_name, "Temp")
COOKIES = os.path.join(TEMP, "ZYP", "cookies")
PARAMETER_FILE = os.path.join(TEMP, "vector.txt")
JOURNAL = os.path.join(WORK, "journal.jsonl")
VENDOR_KEY = r"HKCU\Software\Tarvesk Software"
SETTINGS_KEY = VENDOR_KEY + r"\Pelloran"
# The stand-in's knobs for each state a vector's "manager" names. A stand-in
# leaves once idle for long enough: longer than the program waits for one
# that does not read.
KNOBS = {
    "running": {},
    "no pipe": {"ZYP_QM_NO_PIPE": "1"},
    "busy": {"ZYP_QM_BUSY": "1"},
    "not reading": {"ZYP_QM_NO_READ": "1", "ZYP_QM_IDLE_MS": "10000"},
    "hanging up": {"ZYP_QM_HANG_UP": "1"},
    "reading late": {"ZYP_QM_SLOW_READ_MS": "6000", "ZYP_QM_IDLE_MS": "10000"},
}
IDLE_MS = "3000"


def windows_path(path):
    return "Z:" + path.replace("/", "\\")


def split_arguments(tail):
    """A command-line tail split into arguments as Windows programs split it."""
    arguments, current, quoted, pending, i = [], "", False, False, 0
    while i < len(tail):
        c = tail[i]
        if c == "\\":
            n = len(tail) - i - len(tail[i:].lstrip("\\"))
            if i + n < len(tail) and tail[i + n] == '"':
                current += "\\" * (n // 2)
                i += n
                if n % 2:
                    current += '"'
                    i += 1
            else:
                current += "\\" * n
                i += n
            pending = True
            continue
        if c == '"':
            if quoted and tail[i + 1 : i + 2] == '"':
                current += '"'
                i += 1
            else:
                quoted = not quoted
            pending = True
        elif c in " \t" and not quoted:
            if pending:
                arguments.append(current)
            current, pending = "", False
        else:
            current += c
            pending = True
        i += 1
    if pending:
        arguments.append(current)
    return arguments


def requests():
    sample = ["https://www.example.com/reports/q3.pdf", "cookielist=session=abc123; theme=dark; lang=en",
              "pagetitle=Quarterly report"]
    found = [
        {"name": "scripts/run sample, manager running", "manager": "running", "arguments": sample},
        {"name": "scripts/run sample, manager started", "manager": "absent", "arguments": sample},
        {"name": "list with cookies", "manager": "running",
         "arguments": ["zypqueue=http://a.example/1 http://a.example/2", "cookielist=id=1"]},
        {"name": "control STOP, manager absent", "manager": "absent", "arguments": ["STOP"]},
        {"name": "control start, manager running", "manager": "running", "arguments": ["start"]},
    ]
    with open(VECTORS, encoding="utf-8") as f:
        for number, line in enumerate(f, 1):
            if not line.strip():
                continue
            v = json.loads(line)
            tail = v["command_tail"].replace("{PARAMFILE}", windows_path(PARAMETER_FILE))
            found.append({
                "name": f"docs/vectors.jsonl line {number}: {v['name']}",
                "manager": v["manager"],
                "arguments": split_arguments(tail),
                "parameter_file": v["parameter_file_base64"] and base64.b64decode(v["parameter_file_base64"]),
                "registry": v["registry_before"],
                "old_cookie_files": [name for name, data in v["cookie_files"].items() if data is None],
            })
    return [request for request in found if ONLY.search(request["name"])]


def reg(*arguments):
    """reg.exe, which reads and sets the state around each request."""
    return subprocess.run([WINE64, "reg.exe", *arguments], stdin=subprocess.DEVNULL, capture_output=True)


def processes_marked(mark):
    """Processes of one request: those that carry its mark, but Wine's own."""
    found = []
    for pid in filter(str.isdigit, os.listdir("/proc")):
        try:
            with open(f"/proc/{pid}/environ", "rb") as f:
                if mark.encode() not in f.read().split(b"\0"):
                    continue
            with open(f"/proc/{pid}/cmdline", "rb") as f:
                command = f.read().replace(b"\0", b" ").decode(errors="replace")
        except OSError:
            continue
        own = subprocess.run(["bash", "-c", '. "$0"; zyp_wine_own_process "$1"', WINE_ENV, command])
        if own.returncode != 0:
            found.append((int(pid), command.strip()))
    return found


def reset(request):
    reg("delete", VENDOR_KEY, "/f")
    if request.get("registry") is not None:
        reg("add", SETTINGS_KEY, "/f")
        for name, value in request["registry"].items():
            reg("add", SETTINGS_KEY, "/v", name, "/d", value, "/f")
    shutil.rmtree(COOKIES, ignore_errors=True)
    if request.get("old_cookie_files"):
        os.makedirs(COOKIES)
        for name in request["old_cookie_files"]:
            with open(os.path.join(COOKIES, name), "wb") as f:
                f.write(b"old=1\r\n")
    for path in (JOURNAL, PARAMETER_FILE):
        if os.path.exists(path):
            os.remove(path)
    if request.get("parameter_file"):
        with open(PARAMETER_FILE, "wb") as f:
            f.write(request["parameter_file"])


def masked_journal():
    """The journal with ticks masked and each process id replaced by the
    process's name and rank among those of its name; the lines of one process
    stay in their order, processes come one after the other, since how the
    lines of processes running side by side interleave changes run to run."""
    if not os.path.exists(JOURNAL):
        return ["(no journal)"]
    with open(JOURNAL, "rb") as f:
        lines = f.read().decode("utf-8", errors="backslashreplace").splitlines()
    ranks, keyed = {}, []
    for line in lines:
        match = re.search(r'"process":"([^"]*)","pid":(\d+)', line)
        name, pid = match.groups() if match else ("", "")
        names = ranks.setdefault(name, {})
        rank = names.setdefault(pid, len(names) + 1)
        line = re.sub(r'"pid":\d+', f'"pid":"{name}#{rank}"', re.sub(r'"tick":\d+', '"tick":T', line))
        keyed.append(((name, rank), line))
    return [line for _, line in sorted(keyed, key=lambda entry: entry[0])]


def run(request, number):
    reset(request)
    mark = f"ZYP_RUN_MARK=same_journal.{os.getpid()}.{number}"
    env = dict(os.environ, ZYP_JOURNAL=windows_path(JOURNAL), ZYP_QM_IDLE_MS=IDLE_MS)
    env[mark.split("=")[0]] = mark.split("=", 1)[1]
    notes = []
    if request["manager"] != "absent":
        manager = subprocess.Popen([WINE64, os.path.join(BIN, "ZYPQueueManager.exe")], stdin=subprocess.DEVNULL,
                                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                                   env=dict(env, **KNOBS[request["manager"]]))
        deadline = time.monotonic() + 20
        while manager.poll() is None and time.monotonic() < deadline:
            if os.path.exists(JOURNAL) and b'"event":"ready"' in open(JOURNAL, "rb").read():
                break
            time.sleep(0.05)
    try:
        program = subprocess.run([WINE64, os.path.join(BIN, "ZYPQueueAddURL.exe"), *request["arguments"]],
                                 stdin=subprocess.DEVNULL, capture_output=True, env=env, timeout=60)
        exit_code = str(program.returncode)
    except subprocess.TimeoutExpired:
        exit_code = "still running after 60 s"
    # Everything this request started leaves by itself once idle.
    deadline = time.monotonic() + 30
    while (left := processes_marked(mark)) and time.monotonic() < deadline:
        time.sleep(0.1)
    for pid, command in left:
        notes.append(f"still running after 30 s, stopped: {command}")
        os.kill(pid, 9)
    if request["manager"] != "absent":
        manager.wait()

    report = [f"== {request['name']}", "arguments: " + json.dumps(request["arguments"], ensure_ascii=False),
              f"manager: {request['manager']}", f"exit code: {exit_code}", *notes, "journal:"]
    report += ["  " + line for line in masked_journal()]
    report.append("cookie files:")
    if os.path.isdir(COOKIES):
        for name in sorted(os.listdir(COOKIES)):
            with open(os.path.join(COOKIES, name), "rb") as f:
                report.append(f"  {name}: {f.read()!r}")
    report.append("registry:")
    query = reg("query", VENDOR_KEY, "/s")
    report += ["  " + line for line in query.stdout.decode(errors="replace").replace("\r", "").splitlines() if line]
    if query.returncode != 0:
        report.append("  (no key)")
    return report


def run_build(build, label):
    shutil.rmtree(BIN, ignore_errors=True)
    os.makedirs(BIN)
    for name in PROGRAMS:
        shutil.copy2(os.path.join(build, "bin", name), BIN)
    started = time.monotonic()
    reports = [run(request, number) for number, request in enumerate(requests())]
    print(f"{label}: {len(reports)} requests through {build} in {time.monotonic() - started:.0f} s", flush=True)
    if REPORTS:
        with open(os.path.join(REPORTS, label + ".txt"), "w", encoding="utf-8") as f:
            f.writelines(line + "\n" for report in reports for line in report)
    return reports


def main():
    before = run_build(BEFORE, "before")
    after = run_build(AFTER, "after")
    differing = [(b, a) for b, a in zip(before, after) if b != a]
    if not differing:
        print("same")
        return 0
    for b, a in differing:
        print(b[0])
        sys.stdout.writelines(line + "\n" for line in difflib.unified_diff(b, a, "before", "after", lineterm=""))
    print(f"different: {len(differing)} of {len(before)} requests")
    return 1


if __name__ == "__main__":
    sys.exit(main())

#!/usr/bin/env python3
"""Refuses an include that goes up the layering, run by scripts/test.

The product's folders stand in layers, each above the ones it uses:

    browser_host/          the browser host's process entry
    app/  messaging/       process entry, shell, main window; the browser
                           host's protocol
    intake/                dispatch and requests
    cookies/  pipes/       the cookie store; the named-pipe client
    platform/              the system's interfaces and their Win32 side

A file may include its own folder and the folders below it. cookies/ and
pipes/ stand side by side and use neither the other. companions/, installer/,
tests/, bench/ and fuzz/ stand outside: they include what they need, and
nothing in the product includes them.

Every library publishes the source root as its include path, so the compiler
would take any of these includes: this check is what refuses them. It reads
the sources only (no build), resolves each quoted or angled include that names
a project folder, or lies beside the file, and names each refused one with the
reason.
    layering-check.py [source root]    (default: the checkout it lies in)
"""
import os
import re
import sys

LEVELS = {"platform": 0, "cookies": 1, "pipes": 1, "intake": 2, "messaging": 3, "app": 3, "browser_host": 4}
OUTSIDE = ("companions", "installer", "tests", "bench", "fuzz")
SOURCES = (".h", ".hpp", ".cpp", ".cc", ".c", ".rc", ".in")
INCLUDE = re.compile(r'^\s*#\s*include\s*([<"])([^>"]+)[>"]')


def layers_below(level):
    return ", ".join(f"{name}/" for name, at in LEVELS.items() if at < level)


def refusal(folder, target):
    """Why `folder` may not include from `target`, or None when it may."""
    if folder == target:
        return None
    if target in OUTSIDE:
        return f"{target}/ stands outside the product: nothing in the product includes it"
    mine, theirs = LEVELS[folder], LEVELS[target]
    if theirs < mine:
        return None
    if theirs == mine:
        return f"{folder}/ and {target}/ stand side by side: neither includes the other"
    allowed = " and ".join(filter(None, ["itself", layers_below(mine)]))
    return f"{target}/ lies above {folder}/, which includes only {allowed}"


def target_folder(root, source, spelled, bracket):
    """The project folder an include reaches, or None when it reaches none
    (a system or third-party header, a file generated into the build)."""
    here = os.path.dirname(source)
    beside = os.path.normpath(os.path.join(here, spelled))
    if bracket == '"' and (spelled.startswith(".") or os.path.exists(os.path.join(root, beside))):
        path = beside
    else:
        path = os.path.normpath(spelled)
    first = path.split(os.sep)[0]
    return first if first in LEVELS or first in OUTSIDE else None


def check(root):
    refused = []
    for folder in LEVELS:
        for dirpath, dirnames, filenames in os.walk(os.path.join(root, folder)):
            dirnames.sort()
            for name in sorted(filenames):
                if not name.endswith(SOURCES):
                    continue
                source = os.path.relpath(os.path.join(dirpath, name), root)
                with open(os.path.join(root, source), encoding="utf-8", errors="replace") as f:
                    for number, line in enumerate(f, 1):
                        match = INCLUDE.match(line)
                        if not match:
                            continue
                        bracket, spelled = match.groups()
                        target = target_folder(root, source, spelled, bracket)
                        why = target and refusal(folder, target)
                        if why:
                            refused.append(f"{source}:{number}: includes {spelled}: {why}")
    return refused


def main():
    root = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), "..", "..")
    root = os.path.abspath(root)
    refused = check(root)
    for line in refused:
        print(line)
    if refused:
        print(f"layering: {len(refused)} include(s) refused (the layers: scripts/lib/layering-check.py)")
        return 1
    print("layering: every include in the product goes to its own folder or one below it")
    return 0


if __name__ == "__main__":
    sys.exit(main())

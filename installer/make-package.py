#!/usr/bin/python3
"""Builds one Windows Installer package from installer/ZYPQueueAddURL.wxs with
wixl, reproducibly: the same files, version, scope and time give the same bytes
in any folder at any time.

wixl takes the summary information's times from the clock and makes up the
package code, and its cabinet carries each file's modification time. So the
files go in with one time, the given SOURCE_DATE_EPOCH, and the summary
information is then set with libmsi, the library wixl itself writes with: both
times to SOURCE_DATE_EPOCH, the package code from the version, the scope, that
time and the files. The product code comes from the version and the scope,
so that each version is one product in each scope.

Debian's Python, since libmsi's bindings come as Debian packages
(python3-gi, gir1.2-libmsi-1.0).

    make-package.py --scope perMachine|perUser --version 1.2.3 --files <folder>
                    --icon <file.ico> --epoch-file <file> --output <package.msi>
"""
import argparse
import hashlib
import os
import shutil
import subprocess
import sys
import tempfile
import uuid

import gi

gi.require_version("Libmsi", "1.0")
from gi.repository import Libmsi  # noqa: E402

SOURCE = os.path.join(os.path.dirname(os.path.abspath(__file__)), "ZYPQueueAddURL.wxs")
# The namespace of the product's name-based GUIDs.
NAMESPACE = uuid.UUID("0b7f3c52-6a1e-4d0b-9f37-5c8e2d41a6b9")
# Seconds from 1601-01-01 (FILETIME's start) to 1970-01-01.
FILETIME_EPOCH_OFFSET = 11644473600


def guid(name):
    return "{" + str(uuid.uuid5(NAMESPACE, name)).upper() + "}"


def files_digest(folder):
    """SHA-256 over each file's relative name and bytes, in name order."""
    digest = hashlib.sha256()
    paths = []
    for dirpath, _, filenames in os.walk(folder):
        paths += [os.path.join(dirpath, name) for name in filenames]
    for path in sorted(paths, key=lambda p: os.path.relpath(p, folder).replace(os.sep, "/")):
        digest.update(os.path.relpath(path, folder).replace(os.sep, "/").encode() + b"\0")
        with open(path, "rb") as f:
            digest.update(hashlib.sha256(f.read()).digest())
    return digest.hexdigest()


def stage(files, icon, epoch, work):
    """A copy of the files (in work/files) and the icon (work/product.ico),
    every time set to epoch."""
    shutil.copytree(files, os.path.join(work, "files"))
    shutil.copyfile(icon, os.path.join(work, "product.ico"))
    for dirpath, dirnames, filenames in os.walk(work):
        for name in dirnames + filenames:
            os.utime(os.path.join(dirpath, name), (epoch, epoch))


def set_summary(package, package_code, epoch):
    database = Libmsi.Database.new(package, Libmsi.DbFlags.TRANSACT, None)
    summary = Libmsi.SummaryInfo.new(database, 20)
    filetime = (epoch + FILETIME_EPOCH_OFFSET) * 10_000_000
    summary.set_filetime(Libmsi.Property.CREATED_TM, filetime)
    summary.set_filetime(Libmsi.Property.LASTSAVED_TM, filetime)
    summary.set_string(Libmsi.Property.UUID, package_code)
    summary.save(database)
    database.commit()


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--scope", choices=["perMachine", "perUser"], required=True)
    parser.add_argument("--version", required=True)
    parser.add_argument("--files", required=True)
    parser.add_argument("--icon", required=True)
    parser.add_argument("--epoch-file", required=True)
    parser.add_argument("--output", required=True)
    args = parser.parse_args()
    with open(args.epoch_file, encoding="ascii") as f:
        epoch = int(f.read())

    output = os.path.abspath(args.output)
    with tempfile.TemporaryDirectory(dir=os.path.dirname(output)) as work:
        stage(args.files, args.icon, epoch, work)
        package = os.path.join(work, "package.msi")
        # wixl finds sources only by relative paths, from its working folder.
        wixl = ["wixl", "--arch", "x64", "--output", package,
                "-D", f"Scope={args.scope}", "-D", f"Version={args.version}",
                "-D", f"ProductCode={guid(f'ZYPQueueAddURL product {args.scope} {args.version}')}",
                "-D", "Files=files", "-D", "Icon=product.ico", SOURCE]
        # The cabinet's file times are written in the local time zone.
        run = subprocess.run(wixl, cwd=work, env=dict(os.environ, TZ="UTC"), capture_output=True, text=True)
        if run.returncode != 0:
            sys.exit(f"make-package.py: wixl failed (exit code {run.returncode}):\n{run.stdout}{run.stderr}")
        with open(SOURCE, "rb") as f:
            source_digest = hashlib.sha256(f.read()).hexdigest()
        set_summary(package, guid(f"ZYPQueueAddURL package {args.scope} {args.version} {epoch} "
                                  f"{files_digest(os.path.join(work, 'files'))} {source_digest}"), epoch)
        # In place all at once: never a package half written.
        os.replace(package, output)


if __name__ == "__main__":
    main()

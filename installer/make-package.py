#!/usr/bin/python3
"""Builds one Windows Installer package from installer/ZYPQueueAddURL.wxs with
wixl, reproducibly: the same inputs give the same bytes in any folder at any
time, and other inputs other product and package codes.

The inputs are everything that goes into the package: the files (names and
bytes), the icon, the version, the scope, the time (SOURCE_DATE_EPOCH), the
WiX source, this script and the version of wixl. The product code and the
package code each follow from all of them: a package made again with other
files (signed programs, say) is another product of the same version, which
replaces the installed one as a major upgrade does.

wixl takes the summary information's times from the clock and makes up the
package code, and its cabinet carries each file's modification time. So the
files go in with one time, the given SOURCE_DATE_EPOCH, and the package is
then finished with libmsi, the library wixl itself writes with: both times
set to SOURCE_DATE_EPOCH, the package code set, and what wixl cannot say
added to the tables (the same version in the upgrade's range, the secure
properties).

Debian's Python, since libmsi's bindings come as Debian packages
(python3-gi, gir1.2-libmsi-1.0).

    make-package.py --scope perMachine|perUser --version 1.2.3 --files <folder>
                    --icon <file.ico> --epoch-file <file> --output <package.msi>
"""
import argparse
import hashlib
import json
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
# The public properties that a person or a deployment sets on the command
# line (the README names them): a managed or elevated installation passes
# only secure properties on to the part of Windows Installer that installs.
COMMAND_LINE_PROPERTIES = ["INSTALLDIR"]
# The upgrade row's attribute that takes in its maximum version (wixl's
# MajorUpgrade leaves it out, and ignores IncludeMaximum).
UPGRADE_VERSION_MAX_INCLUSIVE = 0x200


def guid(name):
    return "{" + str(uuid.uuid5(NAMESPACE, name)).upper() + "}"


def file_digest(path):
    with open(path, "rb") as f:
        return hashlib.sha256(f.read()).hexdigest()


def files_digest(folder):
    """SHA-256 over each file's relative name and bytes, in name order."""
    digest = hashlib.sha256()
    paths = []
    for dirpath, _, filenames in os.walk(folder):
        paths += [os.path.join(dirpath, name) for name in filenames]
    for path in sorted(paths, key=lambda p: os.path.relpath(p, folder).replace(os.sep, "/")):
        digest.update(os.path.relpath(path, folder).replace(os.sep, "/").encode() + b"\0")
        digest.update(bytes.fromhex(file_digest(path)))
    return digest.hexdigest()


def wixl_version():
    run = subprocess.run(["wixl", "--version"], capture_output=True, text=True, check=True)
    return run.stdout.strip()


def package_inputs(scope, version, epoch, files, icon):
    """Everything that goes into a package, each part by name."""
    return {
        "scope": scope,
        "version": version,
        "epoch": epoch,
        "files": files_digest(files),
        "icon": file_digest(icon),
        "source": file_digest(SOURCE),
        "packer": file_digest(os.path.abspath(__file__)),
        "wixl": wixl_version(),
    }


def package_codes(inputs):
    """The product code and the package code of a package made of inputs."""
    digest = hashlib.sha256(json.dumps(inputs, sort_keys=True).encode()).hexdigest()
    return guid(f"ZYPQueueAddURL product {digest}"), guid(f"ZYPQueueAddURL package {digest}")


def stage(files, icon, epoch, work):
    """A copy of the files (in work/files) and the icon (work/product.ico),
    every time set to epoch."""
    shutil.copytree(files, os.path.join(work, "files"))
    shutil.copyfile(icon, os.path.join(work, "product.ico"))
    for dirpath, dirnames, filenames in os.walk(work):
        for name in dirnames + filenames:
            os.utime(os.path.join(dirpath, name), (epoch, epoch))


def run_query(database, sql, *values):
    query = Libmsi.Query.new(database, sql)
    record = None
    if values:
        record = Libmsi.Record.new(len(values))
        for field, value in enumerate(values, 1):
            if isinstance(value, int):
                record.set_int(field, value)
            elif value is not None:
                record.set_string(field, value)
    query.execute(record)
    rows = []
    if sql.startswith("SELECT"):
        while (row := query.fetch()) is not None:
            rows.append([None if row.is_null(i) else row.get_string(i) for i in range(1, row.get_field_count() + 1)])
    query.close()
    return rows


def finish(package, package_code, epoch):
    database = Libmsi.Database.new(package, Libmsi.DbFlags.TRANSACT, None)
    # The major upgrade's row reaches up to this version, inclusive. Its
    # attributes are part of the table's key: the row is written again.
    columns = "`UpgradeCode`, `VersionMin`, `VersionMax`, `Language`, `Attributes`, `Remove`, `ActionProperty`"
    for row in run_query(database, f"SELECT {columns} FROM `Upgrade` WHERE `ActionProperty` = 'WIX_UPGRADE_DETECTED'"):
        run_query(database, "DELETE FROM `Upgrade` WHERE `ActionProperty` = 'WIX_UPGRADE_DETECTED'")
        row[4] = int(row[4]) | UPGRADE_VERSION_MAX_INCLUSIVE
        run_query(database, f"INSERT INTO `Upgrade` ({columns}) VALUES (?, ?, ?, ?, ?, ?, ?)", *row)
    secure = run_query(database, "SELECT `Value` FROM `Property` WHERE `Property` = 'SecureCustomProperties'")
    properties = sorted(set(COMMAND_LINE_PROPERTIES + (secure[0][0].split(";") if secure else [])))
    run_query(database, "DELETE FROM `Property` WHERE `Property` = 'SecureCustomProperties'")
    run_query(database, "INSERT INTO `Property` (`Property`, `Value`) VALUES ('SecureCustomProperties', ?)",
              ";".join(properties))

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
        product_code, package_code = package_codes(
            package_inputs(args.scope, args.version, epoch, os.path.join(work, "files"), args.icon))
        package = os.path.join(work, "package.msi")
        # wixl finds sources only by relative paths, from its working folder.
        wixl = ["wixl", "--arch", "x64", "--output", package,
                "-D", f"Scope={args.scope}", "-D", f"Version={args.version}",
                "-D", f"ProductCode={product_code}",
                "-D", "Files=files", "-D", "Icon=product.ico", SOURCE]
        # The cabinet's file times are written in the local time zone.
        run = subprocess.run(wixl, cwd=work, env=dict(os.environ, TZ="UTC"), capture_output=True, text=True)
        if run.returncode != 0:
            sys.exit(f"make-package.py: wixl failed (exit code {run.returncode}):\n{run.stdout}{run.stderr}")
        finish(package, package_code, epoch)
        # In place all at once: never a package half written.
        os.replace(package, output)


if __name__ == "__main__":
    main()

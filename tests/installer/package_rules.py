#!/usr/bin/python3
"""Checks the rules of Windows Installer validation that bear on the product's
packages, reading their tables with libmsi (there is no ICE validator on
Linux). Each broken rule is one line that names the package, the rule and
the row; the exit code is then 1.

    package_rules.py --machine <per-machine.msi> --user <per-user.msi>
                     [--remade <the per-user package made again with other files>]

The rules, after Microsoft's ICE reference:
  ICE38  a component in the user's profile has a value under HKCU as its key path
  ICE57  no component mixes per-user and per-machine data
  ICE64  each folder the package makes in the user's profile is removed on uninstall
  ICE91  no file goes into a per-user-only folder of a package that can be
         installed per machine (the per-user package must refuse that)
  ICE02, ICE18  each component's key path is a file or registry row of its own
  ICE08  component ids are unique; and, across the packages, stable (the same
         component keeps its id when the package is made again) and never
         shared between the two scopes
  SecureCustomProperties  every property that the command line or a search sets
  MajorUpgrade  the upgrade row takes in the package's own version, and a package
         made again with other files has other product and package codes
"""
import argparse
import os
import sys

import gi

gi.require_version("Libmsi", "1.0")
from gi.repository import Libmsi  # noqa: E402

# Folders that are the user's whatever ALLUSERS says, and those that are the
# user's only in a per-user installation.
PER_USER_ONLY_FOLDERS = {"AppDataFolder", "FavoritesFolder", "NetHoodFolder", "PersonalFolder", "PrintHoodFolder",
                         "RecentFolder", "SendToFolder", "MyPicturesFolder", "LocalAppDataFolder"}
ALLUSERS_FOLDERS = {"DesktopFolder", "ProgramMenuFolder", "StartMenuFolder", "StartupFolder", "TemplateFolder",
                    "AdminToolsFolder"}
REGISTRY_KEY_PATH = 0x4
HKCU = 1
EITHER_HIVE = -1
REMOVE_ON_UNINSTALL = 0x2
UPGRADE_ONLY_DETECT = 0x2
UPGRADE_VERSION_MAX_INCLUSIVE = 0x200
# What refuses a per-machine installation of the per-user package.
PER_USER_ONLY_CONDITIONS = {"NOT ALLUSERS", "Installed OR NOT ALLUSERS"}


class Package:
    """A package's tables as lists of rows, each a dict by column name."""

    def __init__(self, path):
        self.path = path
        self.name = os.path.basename(path)
        self.database = Libmsi.Database.new(path, Libmsi.DbFlags.READONLY, None)
        summary = Libmsi.SummaryInfo.new(self.database, 0)
        self.package_code = summary.get_string(Libmsi.Property.UUID)
        self.properties = {row["Property"]: row["Value"] for row in self.table("Property")}

    def table(self, name):
        try:
            query = Libmsi.Query.new(self.database, f"SELECT * FROM `{name}`")
        except gi.repository.GLib.Error:
            return []  # no such table
        query.execute(None)
        columns = query.get_column_info(Libmsi.ColInfo.NAMES)
        names = [columns.get_string(i) for i in range(1, columns.get_field_count() + 1)]
        rows = []
        while (record := query.fetch()) is not None:
            rows.append({names[i - 1]: None if record.is_null(i) else record.get_string(i)
                         for i in range(1, len(names) + 1)})
        query.close()
        return rows

    @property
    def per_user(self):
        return "ALLUSERS" not in self.properties


class Rules:
    def __init__(self):
        self.broken = []

    def report(self, package, rule, text):
        self.broken.append(f"{package.name}: {rule}: {text}")

    def check(self, package):
        directories = {row["Directory"]: row for row in package.table("Directory")}
        components = {row["Component"]: row for row in package.table("Component")}
        files = package.table("File")
        registry = package.table("Registry")

        def profile_root(directory):
            """The profile folder that directory is in, or None."""
            seen = set()
            while directory and directory not in seen:
                seen.add(directory)
                if directory in PER_USER_ONLY_FOLDERS or (package.per_user and directory in ALLUSERS_FOLDERS):
                    return directory
                directory = directories.get(directory, {}).get("Directory_Parent")
            return None

        registry_by_id = {row["Registry"]: row for row in registry}
        files_by_id = {row["File"]: row for row in files}

        # ICE02, ICE18: key paths.
        for name, component in components.items():
            key = component["KeyPath"]
            attributes = int(component["Attributes"] or 0)
            if key is None:
                self.report(package, "ICE18", f"Component '{name}' has no key path: its folder "
                            f"'{component['Directory_']}' would stand for it")
            elif attributes & REGISTRY_KEY_PATH:
                if registry_by_id.get(key, {}).get("Component_") != name:
                    self.report(package, "ICE02", f"Component '{name}': key path '{key}' is no Registry row of it")
            elif files_by_id.get(key, {}).get("Component_") != name:
                self.report(package, "ICE02", f"Component '{name}': key path '{key}' is no File row of it")

        # ICE38: per-user components keep their state in HKCU.
        for name, component in components.items():
            root = profile_root(component["Directory_"])
            if root is None:
                continue
            key = component["KeyPath"]
            attributes = int(component["Attributes"] or 0)
            where = f"(folder '{component['Directory_']}' in {root})"
            if not attributes & REGISTRY_KEY_PATH or key is None:
                self.report(package, "ICE38", f"Component '{name}' installs to the user profile {where}: its key path "
                            f"must be a registry value under HKCU, not {'a folder' if key is None else repr(key)}")
            elif int(registry_by_id.get(key, {}).get("Root", 0)) != HKCU:
                self.report(package, "ICE38", f"Component '{name}' installs to the user profile {where}: its key path "
                            f"'{key}' is not under HKCU")

        # ICE57: one kind of data per component.
        for name, component in components.items():
            kinds = set()
            for row in files:
                if row["Component_"] == name:
                    kinds.add("user" if profile_root(component["Directory_"]) else "machine")
            for row in registry:
                if row["Component_"] == name:
                    root = int(row["Root"])
                    kinds.add("either" if root == EITHER_HIVE else "user" if root == HKCU else "machine")
            if component["KeyPath"] is None:
                kinds.add("user" if profile_root(component["Directory_"]) else "machine")
            if {"user", "machine"} <= kinds:
                self.report(package, "ICE57", f"Component '{name}' has both per-user and per-machine data")
            elif "either" in kinds and len(kinds) > 1:
                self.report(package, "ICE57", f"Component '{name}' has a registry entry that can be either per-user "
                            "or per-machine beside data that is one of them")

        # ICE64: every folder made in the profile goes on uninstall.
        removed = {row["DirProperty"] for row in package.table("RemoveFile")
                   if row["FileName"] is None and int(row["InstallMode"]) & REMOVE_ON_UNINSTALL}
        for name in directories:
            if name in PER_USER_ONLY_FOLDERS | ALLUSERS_FOLDERS or profile_root(name) is None:
                continue
            if name not in removed:
                self.report(package, "ICE64", f"The directory '{name}' is in the user profile but is not listed "
                            "in the RemoveFile table")

        # ICE91: per-user-only folders in a package that may go to every user.
        refused = any(row["Condition"] in PER_USER_ONLY_CONDITIONS for row in package.table("LaunchCondition"))
        for row in files:
            root = profile_root(components[row["Component_"]]["Directory_"])
            if root in PER_USER_ONLY_FOLDERS and not (package.per_user and refused):
                self.report(package, "ICE91", f"The file '{row['File']}' will be installed to the per user directory "
                            f"'{root}' that does not vary based on ALLUSERS value"
                            + ("" if package.per_user else " (this package installs per machine)")
                            + ("" if refused else ", and no launch condition refuses ALLUSERS"))

        # ICE08: unique component ids.
        seen = {}
        for name, component in components.items():
            code = component["ComponentId"]
            if code in seen:
                self.report(package, "ICE08", f"Component '{name}' has the id {code} of component '{seen[code]}'")
            seen[code] = name

        # Secure properties.
        secure = set((package.properties.get("SecureCustomProperties") or "").split(";"))
        public = {name for name in directories if name.isupper() and name != "TARGETDIR" and not name.startswith("ARP")}
        public |= {row["Property"] for row in package.table("AppSearch")}
        public |= {row["ActionProperty"] for row in package.table("Upgrade")}
        for name in sorted(public - secure):
            self.report(package, "SecureCustomProperties", f"Property '{name}' is public and set on the command "
                        "line or by a search, but not secure: a managed installation drops it")

        # The same version made again upgrades.
        version = package.properties.get("ProductVersion")
        upgrades = [row for row in package.table("Upgrade")
                    if not int(row["Attributes"]) & UPGRADE_ONLY_DETECT and row["VersionMax"] == version]
        if not any(int(row["Attributes"]) & UPGRADE_VERSION_MAX_INCLUSIVE for row in upgrades):
            self.report(package, "MajorUpgrade", f"no Upgrade row takes in the package's own version {version}: "
                        "a package made again with other files would not replace an installed one")

    def across(self, machine, user, remade):
        def ids(package):
            return {row["Component"]: row["ComponentId"] for row in package.table("Component")}

        machine_ids, user_ids = ids(machine), ids(user)
        for name, code in user_ids.items():
            for other, other_code in machine_ids.items():
                if code == other_code:
                    self.report(user, "ICE08", f"Component '{name}' has the id {code} of component '{other}' of "
                                f"{machine.name}, which installs other resources")
        if remade is None:
            return
        for name, code in ids(remade).items():
            if name in user_ids and user_ids[name] != code:
                self.report(remade, "ICE08", f"Component '{name}' has the id {code}, but {user_ids[name]} in "
                            f"{user.name}: the id of a component must stay when the package is made again")
        for what in ("UpgradeCode", "ProductVersion"):
            if remade.properties.get(what) != user.properties.get(what):
                self.report(remade, "MajorUpgrade", f"{what} {remade.properties.get(what)} differs from "
                            f"{user.properties.get(what)} of {user.name}")
        if remade.properties.get("ProductCode") == user.properties.get("ProductCode"):
            self.report(remade, "MajorUpgrade", f"ProductCode {user.properties.get('ProductCode')} is that of "
                        f"{user.name}, made of other files")
        if remade.package_code == user.package_code:
            self.report(remade, "MajorUpgrade", f"package code {user.package_code} is that of {user.name}, made of "
                        "other files")


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--machine", required=True)
    parser.add_argument("--user", required=True)
    parser.add_argument("--remade")
    args = parser.parse_args()
    machine, user = Package(args.machine), Package(args.user)
    remade = Package(args.remade) if args.remade else None
    rules = Rules()
    if machine.per_user or not user.per_user:
        sys.exit(f"{machine.name} must install per machine and {user.name} per user")
    for package in filter(None, (machine, user, remade)):
        rules.check(package)
    rules.across(machine, user, remade)
    for line in rules.broken:
        print(line)
    if rules.broken:
        sys.exit(1)
    print(f"{machine.name}, {user.name}" + (f", {remade.name}" if remade else "") + ": every rule holds")


if __name__ == "__main__":
    main()

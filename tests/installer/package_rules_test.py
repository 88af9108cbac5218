#!/usr/bin/python3
"""package_rules.py on a small per-user package that breaks each rule once:
every broken rule is reported with its name and the row that breaks it, and
nothing else is."""
import os
import subprocess
import sys
import tempfile
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
# Imported from beside this file, leaving no compiled copy in the sources.
sys.dont_write_bytecode = True
sys.path.insert(0, HERE)
import package_rules  # noqa: E402

BROKEN = r"""<?xml version="1.0" encoding="utf-8"?>
<Wix xmlns="http://schemas.microsoft.com/wix/2006/wi">
  <Product Id="{0D5A3F4E-1B2C-4D5E-8F90-A1B2C3D4E5F6}" Name="Broken" Language="1033" Version="2.0.0"
           Manufacturer="Tests" UpgradeCode="{6A7B8C9D-0E1F-4A2B-9C3D-4E5F6A7B8C9D}">
    <Package InstallerVersion="500" Compressed="yes" InstallScope="perUser"/>
    <MajorUpgrade DowngradeErrorMessage="newer"/>
    <Media Id="1" Cabinet="product.cab" EmbedCab="yes"/>
    <Directory Id="TARGETDIR" Name="SourceDir">
      <Directory Id="LocalAppDataFolder">
        <Directory Id="INSTALLDIR" Name="Broken">
          <Directory Id="LeftBehind" Name="data"/>
        </Directory>
      </Directory>
    </Directory>
    <DirectoryRef Id="INSTALLDIR">
      <Component Id="FileKey" Guid="*">
        <File Id="Program" Source="program.exe" KeyPath="yes"/>
        <RemoveFolder Id="RemoveInstallDir" On="uninstall"/>
      </Component>
      <Component Id="Mixed" Guid="*">
        <RegistryValue Root="HKCU" Key="Software\Broken" Name="user" Type="integer" Value="1" KeyPath="yes"/>
        <RegistryValue Root="HKLM" Key="Software\Broken" Name="machine" Type="integer" Value="1"/>
      </Component>
    </DirectoryRef>
    <DirectoryRef Id="LeftBehind">
      <Component Id="Data" Guid="*">
        <RegistryValue Root="HKCU" Key="Software\Broken" Name="data" Type="integer" Value="1" KeyPath="yes"/>
      </Component>
    </DirectoryRef>
    <Feature Id="Product" Level="1">
      <ComponentRef Id="FileKey"/>
      <ComponentRef Id="Mixed"/>
      <ComponentRef Id="Data"/>
    </Feature>
  </Product>
</Wix>
"""


class BrokenPackage(unittest.TestCase):
    def test_each_broken_rule_names_its_row(self):
        with tempfile.TemporaryDirectory() as work:
            with open(os.path.join(work, "broken.wxs"), "w", encoding="utf-8") as f:
                f.write(BROKEN)
            with open(os.path.join(work, "program.exe"), "wb") as f:
                f.write(b"MZ")
            subprocess.run(["wixl", "--arch", "x64", "--output", "broken.msi", "broken.wxs"], cwd=work, check=True)
            package = package_rules.Package(os.path.join(work, "broken.msi"))
            rules = package_rules.Rules()
            rules.check(package)
            rules.across(package_rules.Package(os.path.join(work, "broken.msi")), package, package)
        prefix = "broken.msi: "
        expected = [
            "ICE38: Component 'FileKey' installs to the user profile (folder 'INSTALLDIR' in LocalAppDataFolder): "
            "its key path must be a registry value under HKCU, not 'Program'",
            "ICE57: Component 'Mixed' has both per-user and per-machine data",
            "ICE64: The directory 'LeftBehind' is in the user profile but is not listed in the RemoveFile table",
            "ICE91: The file 'Program' will be installed to the per user directory 'LocalAppDataFolder' that does "
            "not vary based on ALLUSERS value, and no launch condition refuses ALLUSERS",
            "SecureCustomProperties: Property 'INSTALLDIR' is public and set on the command line or by a search, "
            "but not secure: a managed installation drops it",
            "MajorUpgrade: no Upgrade row takes in the package's own version 2.0.0: a package made again with "
            "other files would not replace an installed one",
            "MajorUpgrade: ProductCode {0D5A3F4E-1B2C-4D5E-8F90-A1B2C3D4E5F6} is that of broken.msi, made of "
            "other files",
        ]
        reported = [line.removeprefix(prefix) for line in rules.broken]
        for line in expected:
            self.assertIn(line, reported)
        # Given as both scopes and as its own remake: shared ids, the same
        # package code.
        self.assertIn("ICE08: Component 'Data' has the id", "\n".join(reported))
        self.assertIn(f"MajorUpgrade: package code {package.package_code} is that of broken.msi, made of other files",
                      reported)
        self.assertEqual([line for line in reported if line not in expected and not line.startswith(
            ("ICE08", "MajorUpgrade: package code"))], [])


if __name__ == "__main__":
    unittest.main()

#!/usr/bin/python3
"""How installer/make-package.py derives a package's product code and package
code: the same inputs give the same codes, and a change to any one input
(a file's bytes or name, the icon, the version, the scope, the time, the WiX
source, the packer, wixl's version) gives both codes anew."""
import importlib.machinery
import os
import tempfile
import types
import unittest

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
# The packer's file name is no module name: it is loaded from its path.
loader = importlib.machinery.SourceFileLoader("make_package", os.path.join(ROOT, "installer", "make-package.py"))
make_package = types.ModuleType(loader.name)
make_package.__file__ = loader.path
loader.exec_module(make_package)


def write(path, data):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(data)


class PackageCodes(unittest.TestCase):
    def setUp(self):
        self.work = tempfile.TemporaryDirectory()
        self.addCleanup(self.work.cleanup)
        self.files = os.path.join(self.work.name, "files")
        write(os.path.join(self.files, "ZYPQueueAddURL.exe"), b"MZ program")
        write(os.path.join(self.files, "docs", "protocol.md"), b"# protocol")
        self.icon = os.path.join(self.work.name, "product.ico")
        write(self.icon, b"icon")

    def inputs(self, scope="perMachine", version="1.0.0", epoch=1700000000):
        return make_package.package_inputs(scope, version, epoch, self.files, self.icon)

    def test_the_same_inputs_give_the_same_codes_in_another_folder(self):
        first = make_package.package_codes(self.inputs())
        copy = os.path.join(self.work.name, "copy")
        write(os.path.join(copy, "ZYPQueueAddURL.exe"), b"MZ program")
        write(os.path.join(copy, "docs", "protocol.md"), b"# protocol")
        again = make_package.package_codes(make_package.package_inputs("perMachine", "1.0.0", 1700000000, copy,
                                                                       self.icon))
        self.assertEqual(first, again)
        product, package = first
        self.assertNotEqual(product, package)
        self.assertRegex(product, r"^\{[0-9A-F]{8}(-[0-9A-F]{4}){3}-[0-9A-F]{12}\}$")

    def test_each_input_makes_new_codes(self):
        base = self.inputs()
        self.assertEqual(set(base), {"scope", "version", "epoch", "files", "icon", "source", "packer", "wixl"})
        codes = {"base": make_package.package_codes(base)}
        for name in ("source", "packer", "wixl"):
            codes[name] = make_package.package_codes(dict(base, **{name: base[name] + "0"}))
        codes["scope"] = make_package.package_codes(self.inputs(scope="perUser"))
        codes["version"] = make_package.package_codes(self.inputs(version="1.0.1"))
        codes["epoch"] = make_package.package_codes(self.inputs(epoch=1700000001))
        write(self.icon, b"other icon")
        codes["icon"] = make_package.package_codes(self.inputs())
        write(self.icon, b"icon")
        write(os.path.join(self.files, "ZYPQueueAddURL.exe"), b"MZ program, signed")
        codes["file's bytes"] = make_package.package_codes(self.inputs())
        os.rename(os.path.join(self.files, "ZYPQueueAddURL.exe"), os.path.join(self.files, "ZYPQueueAddURL2.exe"))
        codes["file's name"] = make_package.package_codes(self.inputs())
        products = {}
        packages = {}
        for what, (product, package) in codes.items():
            self.assertNotIn(product, products, f"{what} keeps the product code of {products.get(product)}")
            self.assertNotIn(package, packages, f"{what} keeps the package code of {packages.get(package)}")
            products[product] = what
            packages[package] = what


if __name__ == "__main__":
    unittest.main()

#!/usr/bin/env python3
"""ksdist package: the package is the stub followed by a ZIP archive of the distribution that
Python's zipfile reads as it stands (stored entries, byte for byte, each with its time), adds
at most 32 KiB to the distribution, comes out the same bytes in any time zone, and is refused,
with nothing written, for a distribution that verify fails or a stub that is not one.

usage: package_test.py KSDIST SETUP.EXE KSPACKAGE.EXE SAMPLE_FOLDER
"""
import os
import shutil
import subprocess
import sys
import tempfile
import time
import unittest
import zipfile

import pack_test

KSDIST = SETUP_EXE = STUB = SAMPLE = None
DIST_NAMES = ["SETUP.EXE", "README.TXT", "KESTRA.TXT", "LICENSE.TXT", "VENDOR.TXT",
              "WHATSNEW.TXT", "FILE_ID.DIZ", "ORDER.TXT", "setup.ks"]


def ksdist(*args, env=None):
    return subprocess.run([KSDIST, *map(str, args)], capture_output=True, timeout=120, env=env)


class PackageTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.folder = tempfile.TemporaryDirectory(prefix="ksdist-package-")
        cls.dir = cls.folder.name
        product = os.path.join(cls.dir, "product")
        os.makedirs(product)
        with open(os.path.join(product, "KESTRA32.EXE"), "wb") as f:
            f.write(b"MZ" + os.urandom(40000))
        cls.dist = os.path.join(cls.dir, "dist")
        result = ksdist("pack", "--product", product, "--side-files",
                        os.path.join(SAMPLE, "side-files"), "--setup", SETUP_EXE, "--out", cls.dist)
        assert result.returncode == 0, result.stderr

    @classmethod
    def tearDownClass(cls):
        cls.folder.cleanup()

    def package(self, out, *options, dist=None, stub=None, tz="UTC", epoch=None):
        env = dict(os.environ, TZ=tz)
        if epoch:
            env["SOURCE_DATE_EPOCH"] = epoch
        return ksdist("package", dist or self.dist, "--stub", stub or STUB, "--out", out,
                      *options, env=env)

    def test_package_is_the_stub_and_a_zip_of_the_distribution(self):
        out = os.path.join(self.dir, "package.exe")
        result = self.package(out)
        self.assertEqual(result.returncode, 0, result.stderr)
        data = open(out, "rb").read()
        stub = open(STUB, "rb").read()
        self.assertEqual(data[:len(stub)], stub)
        with zipfile.ZipFile(out) as archive:
            self.assertEqual(archive.namelist(), DIST_NAMES)
            for info in archive.infolist():
                self.assertEqual(info.compress_type, zipfile.ZIP_STORED)
                self.assertEqual(info.header_offset >= len(stub), True)
                self.assertEqual(archive.read(info), open(os.path.join(self.dist, info.filename), "rb").read())
                stamp = time.gmtime(os.stat(os.path.join(self.dist, info.filename)).st_mtime)
                self.assertEqual(info.date_time, stamp[:5] + (stamp[5] // 2 * 2,))
        dist_bytes = sum(os.path.getsize(os.path.join(self.dist, n)) for n in DIST_NAMES)
        self.assertLessEqual(len(data) - dist_bytes, 32768)
        # Reproducible: another run, in another time zone, gives the same bytes.
        again = os.path.join(self.dir, "again.exe")
        self.assertEqual(self.package(again, tz="America/Los_Angeles").returncode, 0)
        self.assertEqual(open(again, "rb").read(), data)

    def test_signed_package_verifies_and_a_changed_byte_breaks_it(self):
        pfx, password, authority = pack_test.PackTest.make_signing_certificate(self)
        signed = []
        for name in ("signed.exe", "signed-again.exe"):
            out = os.path.join(self.dir, name)
            result = self.package(out, "--sign-cert", pfx, "--sign-password-file", password,
                                  epoch="1700000000")
            self.assertEqual(result.returncode, 0, result.stderr)
            signed.append(open(out, "rb").read())
        self.assertEqual(signed[0], signed[1], "a fixed signing time gives the same bytes")
        out = os.path.join(self.dir, "signed.exe")
        checked = subprocess.run(["osslsigncode", "verify", "-CAfile", authority, "-in", out],
                                 capture_output=True)
        self.assertEqual(checked.returncode, 0, checked.stdout)
        report = ksdist("verify", out)
        self.assertEqual(report.returncode, 0, report.stdout)
        self.assertIn(b"package: signed by /CN=Quillfeather Software", report.stdout)
        changed = bytearray(signed[0])
        changed[len(changed) // 2] ^= 1
        with open(out, "wb") as f:
            f.write(changed)
        report = ksdist("verify", out)
        self.assertEqual(report.returncode, 2)
        self.assertIn(b"signature does not match", report.stdout)
        self.assertIn(b"The package is damaged: download it again", report.stdout)

    def test_refusals_write_nothing(self):
        broken = os.path.join(self.dir, "broken")
        shutil.copytree(self.dist, broken)
        os.remove(os.path.join(broken, "ORDER.TXT"))
        not_a_program = os.path.join(self.dir, "stub.txt")
        with open(not_a_program, "wb") as f:
            f.write(b"not a program")
        carrying = os.path.join(self.dir, "carrying.exe")
        with open(carrying, "wb") as f:
            f.write(open(STUB, "rb").read() + b"PK\x05\x06" + bytes(18))
        cases = [
            ("a distribution verify fails", dict(dist=broken), "verify refuses"),
            ("a stub that is no program", dict(stub=not_a_program), "not a Windows program"),
            ("a stub with data after its image", dict(stub=carrying), "carries data"),
        ]
        for name, arguments, message in cases:
            with self.subTest(name):
                out = os.path.join(self.dir, "refused.exe")
                result = self.package(out, **arguments)
                self.assertEqual(result.returncode, 2)
                self.assertIn(message, result.stderr.decode())
                self.assertEqual([n for n in os.listdir(self.dir) if n.startswith("refused")], [])
        result = ksdist("package", self.dist, "--out", os.path.join(self.dir, "x.exe"))
        self.assertEqual(result.returncode, 64)


if __name__ == "__main__":
    KSDIST, SETUP_EXE, STUB, SAMPLE = sys.argv[1:5]
    unittest.main(argv=sys.argv[:1], verbosity=2)

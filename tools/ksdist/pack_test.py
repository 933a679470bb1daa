#!/usr/bin/env python3
"""ksdist pack and verify: a packed product comes back byte-identical with its times through
ksdist unpack, Python's zipfile reads what pack writes, verify passes a packed distribution and
names what is wrong with a damaged one, and every error of pack exits 2 with one line naming
the file and leaves no distribution behind.

usage: pack_test.py KSDIST SETUP.EXE SAMPLE_FOLDER
"""
import os
import random
import resource
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import unittest
import zipfile

KSDIST = SETUP_EXE = SAMPLE = None
BUILT_IN_PASSWORD = b"Quillfeather\xa9 1987-1995 sample archive text."
SIDE_FILES = ["README.TXT", "KESTRA.TXT", "LICENSE.TXT", "VENDOR.TXT", "WHATSNEW.TXT",
              "FILE_ID.DIZ", "ORDER.TXT"]
NOBODY = 65534


def ksdist(*args, **kwargs):
    return subprocess.run([KSDIST, *map(str, args)], capture_output=True, timeout=120, **kwargs)


def local_stamp(year, month, day, hour, minute, second):
    return int(time.mktime((year, month, day, hour, minute, second, 0, 0, -1)))


class PackTest(unittest.TestCase):
    def setUp(self):
        self.folder = tempfile.TemporaryDirectory(prefix="ksdist-pack-")
        self.dir = self.folder.name
        self.product = os.path.join(self.dir, "product")
        self.side = os.path.join(SAMPLE, "side-files")
        self.dist = os.path.join(self.dir, "out", "dist")
        os.makedirs(os.path.dirname(self.dist))
        rng = random.Random(8)
        self.files = {
            "KESTRA32.EXE": b"MZ" + rng.randbytes(30000),
            "KESTRA.INI": b"[Kestra]\r\nVersion=8.0\r\n",
            "docs/MANUAL.TXT": b"Kestra manual line\r\n" * 20000,
            "docs/more/ONE.BIN": b"1",
            "docs/EMPTY.LOG": b"",
            "bin/NOISE.DAT": rng.randbytes(65536),       # one read block exactly
            "bin/LARGER.DAT": rng.randbytes(1000) * 200,  # repeats: it deflates
            "caf\u00e9.txt": "caf\u00e9 au lait".encode("utf-8"),
        }
        self.stamps = {}
        for index, (name, data) in enumerate(self.files.items()):
            self.write(name, data, local_stamp(1995, 8, 24, 9, 30, 2 * index))

    def tearDown(self):
        for root, folders, _ in os.walk(self.dir):
            for name in folders:
                os.chmod(os.path.join(root, name), 0o755)
        self.folder.cleanup()

    def write(self, name, data, stamp=None):
        path = os.path.join(self.product, name)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(data)
        if stamp is not None:
            os.utime(path, (stamp, stamp))
            self.stamps[name] = stamp
        return path

    def pack(self, *options, dist=None, **kwargs):
        return ksdist("pack", "--product", self.product, "--side-files", self.side,
                      "--setup", SETUP_EXE, "--out", dist or self.dist, *options, **kwargs)

    def packed(self, *options, **kwargs):
        result = self.pack(*options, **kwargs)
        self.assertEqual(result.returncode, 0, result.stderr)
        return result

    def stored_name(self, name):
        base = os.path.basename(name)
        return "KESTRA32.EX_" if base == "KESTRA32.EXE" else base

    def test_the_distribution_folder_and_its_times(self):
        self.packed()
        setup_time = os.stat(SETUP_EXE).st_mtime_ns
        self.assertEqual(sorted(os.listdir(self.dist)), sorted(SIDE_FILES + ["SETUP.EXE", "setup.ks"]))
        for name in SIDE_FILES + ["SETUP.EXE"]:
            source = os.path.join(self.side, name) if name != "SETUP.EXE" else SETUP_EXE
            with open(source, "rb") as a, open(os.path.join(self.dist, name), "rb") as b:
                self.assertEqual(a.read(), b.read(), name)
            self.assertEqual(os.stat(os.path.join(self.dist, name)).st_mtime_ns, setup_time, name)
        self.assertEqual(os.listdir(os.path.dirname(self.dist)), ["dist"], "no temporary folder")

    def test_round_trip_through_unpack_gives_the_files_and_their_times(self):
        for options in [[], ["--no-encrypt"], ["--level", "1"], ["--level", "9"], ["--store"],
                        ["--store", "--no-encrypt"]]:
            shutil.rmtree(self.dist, ignore_errors=True)
            self.packed(*options)
            out = os.path.join(self.dir, "unpacked")
            shutil.rmtree(out, ignore_errors=True)
            os.mkdir(out)
            result = ksdist("unpack", os.path.join(self.dist, "setup.ks"), out)
            self.assertEqual(result.returncode, 0, (options, result.stderr))
            self.assertEqual(sorted(os.listdir(out)),
                             sorted(self.stored_name(n) for n in self.files), options)
            for name, data in self.files.items():
                path = os.path.join(out, self.stored_name(name))
                with open(path, "rb") as f:
                    self.assertEqual(f.read(), data, (options, name))
                self.assertEqual(os.stat(path).st_mtime, self.stamps[name], (options, name))

    def test_pythons_zipfile_reads_what_pack_writes(self):
        for options, password in [(["--no-encrypt"], None), ([], BUILT_IN_PASSWORD),
                                  (["--password", "s3cret"], b"s3cret")]:
            shutil.rmtree(self.dist, ignore_errors=True)
            self.packed(*options)
            with zipfile.ZipFile(os.path.join(self.dist, "setup.ks")) as z:
                if password is None:
                    self.assertIsNone(z.testzip())
                # A name beyond ASCII is written in UTF-8 and marked so (flag bit 11): setup
                # would read an unmarked one in each customer's own OEM code page.
                infos = {info.filename: info for info in z.infolist()}
                self.assertEqual(set(infos), {self.stored_name(n) for n in self.files})
                for name, data in self.files.items():
                    info = infos[self.stored_name(name)]
                    self.assertEqual(info.flag_bits & 1, 1 if password else 0, options)
                    self.assertEqual(info.flag_bits & 0x800, 0 if name.isascii() else 0x800)
                    self.assertEqual(z.read(info, pwd=password), data, (options, name))
                    self.assertEqual(info.date_time, time.localtime(self.stamps[name])[:6])
                self.assertEqual(infos["NOISE.DAT"].compress_type, zipfile.ZIP_STORED,
                                 "a file that does not shrink is stored")
                self.assertEqual(infos["LARGER.DAT"].compress_type, zipfile.ZIP_DEFLATED)
        shutil.rmtree(self.dist)
        self.packed("--store", "--no-encrypt")
        with zipfile.ZipFile(os.path.join(self.dist, "setup.ks")) as z:
            self.assertEqual({i.compress_type for i in z.infolist()}, {zipfile.ZIP_STORED})
            extracted = os.path.join(self.dir, "zipfile")
            z.extractall(extracted)
            with open(os.path.join(extracted, "MANUAL.TXT"), "rb") as f:
                self.assertEqual(f.read(), self.files["docs/MANUAL.TXT"])

    def test_the_archive_is_the_same_on_one_core_and_on_all(self):
        # At and just above the largest file deflated whole; the larger one goes in pieces.
        for name, size in [("EDGE.DAT", 32 << 20), ("BEYOND.DAT", (32 << 20) + 1)]:
            with open(os.path.join(self.product, name), "wb") as f:
                f.write(b"edge" * 1000)
                f.truncate(size)
        archives = []
        for cores in [{0}, os.sched_getaffinity(0)]:
            shutil.rmtree(self.dist, ignore_errors=True)
            self.packed(preexec_fn=lambda: os.sched_setaffinity(0, cores))
            with open(os.path.join(self.dist, "setup.ks"), "rb") as f:
                archives.append(f.read())
        self.assertEqual(archives[0], archives[1])
        self.assertEqual(self.verify()[0], 0)

    def test_odd_times_are_stored_to_the_even_second_below_and_kept_within_dos_range(self):
        self.write("ODD.TXT", b"odd", local_stamp(2001, 5, 17, 12, 34, 57))
        self.write("OLD.TXT", b"old", local_stamp(1975, 1, 1, 0, 0, 0))
        self.packed("--no-encrypt", "--store")
        with zipfile.ZipFile(os.path.join(self.dist, "setup.ks")) as z:
            self.assertEqual(z.getinfo("ODD.TXT").date_time, (2001, 5, 17, 12, 34, 56))
            self.assertEqual(z.getinfo("OLD.TXT").date_time, (1980, 1, 1, 0, 0, 0))

    def verify(self, dist=None):
        result = ksdist("verify", dist or self.dist)
        return result.returncode, result.stdout.decode()

    def test_verify_passes_a_packed_distribution(self):
        self.packed("--store")
        status, report = self.verify()
        self.assertEqual(status, 0, report)
        for expected in ["ok    SETUP.EXE", "all 7 there, each with SETUP.EXE's last-write time",
                         "8 files tested by SETUP.EXE's extraction engine, every CRC right",
                         "ok    KESTRA32.EX_", "stub library in SETUP.EXE: ", "file version 4.1.0.0",
                         "ok    progress total: ", "SETUP.EXE would install this distribution.",
                         "note  SETUP.EXE: not signed"]:
            self.assertIn(expected, report)
        # Windows finds files whatever their case; so does verify.
        os.rename(os.path.join(self.dist, "ORDER.TXT"), os.path.join(self.dist, "order.txt"))
        os.rename(os.path.join(self.dist, "setup.ks"), os.path.join(self.dist, "SETUP.KS"))
        self.assertEqual(self.verify()[0], 0)

    def make_signing_certificate(self):
        """A certificate authority and a code-signing certificate it issued, made for this test;
        returns the .pfx, its password file and the authority's certificate."""
        def openssl(*args):
            subprocess.run(["openssl", *args], cwd=self.dir, check=True, capture_output=True)
        openssl("req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", "ca.key", "-out",
                "ca.pem", "-days", "30", "-subj", "/CN=Kestra Test Authority",
                "-addext", "basicConstraints=critical,CA:TRUE",
                "-addext", "keyUsage=critical,keyCertSign")
        openssl("req", "-newkey", "rsa:2048", "-nodes", "-keyout", "signer.key", "-out",
                "signer.csr", "-subj", "/CN=Quillfeather Software/O=Quillfeather Ltd")
        with open(os.path.join(self.dir, "signer.ext"), "w") as f:
            f.write("keyUsage=critical,digitalSignature\nextendedKeyUsage=codeSigning\n")
        openssl("x509", "-req", "-in", "signer.csr", "-CA", "ca.pem", "-CAkey", "ca.key",
                "-CAcreateserial", "-days", "30", "-extfile", "signer.ext", "-out", "signer.pem")
        with open(os.path.join(self.dir, "password.txt"), "w") as f:
            f.write("kestra-sign\n")
        openssl("pkcs12", "-export", "-inkey", "signer.key", "-in", "signer.pem", "-certfile",
                "ca.pem", "-passout", "file:password.txt", "-out", "signer.pfx")
        return [os.path.join(self.dir, n) for n in ("signer.pfx", "password.txt", "ca.pem")]

    def test_signing_setup_exe_and_verifying_its_signature(self):
        pfx, password, authority = self.make_signing_certificate()
        signing = ["--sign-cert", pfx, "--sign-password-file", password]
        environment = dict(os.environ, SOURCE_DATE_EPOCH="1700000000")
        setup = os.path.join(self.dist, "SETUP.EXE")
        signed = []
        for attempt in range(2):
            shutil.rmtree(self.dist, ignore_errors=True)
            result = self.pack("--store", *signing, env=environment)
            self.assertEqual(result.returncode, 0, result.stderr)
            self.assertIn(b"SETUP.EXE    signed by /CN=Quillfeather Software", result.stdout)
            with open(setup, "rb") as f:
                signed.append(f.read())
        self.assertEqual(signed[0], signed[1], "one signing time: the same bytes again")
        self.assertGreater(len(signed[0]), os.path.getsize(SETUP_EXE))
        checked = subprocess.run(["osslsigncode", "verify", "-CAfile", authority, "-in", setup],
                                 capture_output=True)
        self.assertEqual(checked.returncode, 0, checked.stdout)
        for name in SIDE_FILES:  # they took the time of the signed SETUP.EXE
            self.assertEqual(os.stat(os.path.join(self.dist, name)).st_mtime_ns,
                             os.stat(setup).st_mtime_ns)
        status, report = self.verify()
        self.assertEqual(status, 0, report)
        self.assertIn("ok    SETUP.EXE: signed by /CN=Quillfeather Software/O=Quillfeather Ltd; "
                      "the signature matches the file", report)
        self.assertIn("file version 4.1.0.0", report)

        # One changed byte: in the program, and in the RSA signature that ends the signature.
        for at, why in [(len(signed[0]) // 2, "the file changed after it was signed"),
                        (len(signed[0]) - 100, "the signature itself is damaged")]:
            stamp = os.stat(setup).st_mtime_ns
            with open(setup, "wb") as f:
                f.write(signed[0][:at] + bytes([signed[0][at] ^ 1]) + signed[0][at + 1:])
            os.utime(setup, ns=(stamp, stamp))
            status, report = self.verify()
            self.assertEqual((status, report.count("FAIL")), (2, 1), report)
            self.assertIn("FAIL  SETUP.EXE: signed", report)
            self.assertIn("but the signature does not match: " + why, report)

        shutil.rmtree(self.dist)
        with open(password, "w") as f:
            f.write("not the password\n")
        self.assert_pack_fails(SETUP_EXE + ": osslsigncode could not sign it: ", *signing)

    def test_verify_shows_setups_sha256_as_sha256sum_does(self):
        self.packed("--store")
        setup = os.path.join(self.dist, "SETUP.EXE")
        shipped = open(setup, "rb").read()
        # The shipped image, and sizes about the hash's 64-byte blocks and its 9 bytes of tail.
        for data in [shipped, b"", b"a" * 55, b"b" * 56, b"c" * 63, b"d" * 64, b"e" * 119,
                     b"f" * 120, bytes(range(256)) * 9]:
            with open(setup, "wb") as f:
                f.write(data)
            expected = subprocess.run(["sha256sum", setup], capture_output=True,
                                      check=True).stdout.split()[0].decode()
            self.assertIn("ok    SETUP.EXE: SHA-256 %s\n" % expected, self.verify()[1])

    def test_the_progress_total_is_setups_arithmetic(self):
        self.packed("--store")
        # An SZDD side file counts with the size its header promises.
        szdd = b"SZDD\x88\xf0\x27\x33A\x00" + (1000000).to_bytes(4, "little") + b"data"
        order = os.path.join(self.dist, "ORDER.TXT")
        with open(order, "wb") as f:
            f.write(szdd)
        setup = os.stat(os.path.join(self.dist, "SETUP.EXE"))
        os.utime(order, ns=(setup.st_atime_ns, setup.st_mtime_ns))
        sizes = sum(os.path.getsize(os.path.join(self.dist, n)) for n in SIDE_FILES[:-1])
        kilobytes = (sizes + 1000000 + os.path.getsize(os.path.join(self.dist, "setup.ks"))) >> 10
        status, report = self.verify()
        self.assertEqual(status, 0, report)
        self.assertIn("progress total: {:,} KB; the meter counts {:,} steps".format(
            kilobytes, kilobytes // 10), report)

    def test_verify_names_a_side_file_whose_time_is_off(self):
        self.packed("--store")
        setup = 1234567890123456700  # a whole Windows tick
        for name in SIDE_FILES + ["SETUP.EXE"]:
            os.utime(os.path.join(self.dist, name), ns=(setup, setup))
        for name, offset, text in [("ORDER.TXT", 1000000000, "1 s later"),
                                   ("VENDOR.TXT", -100, "100 ns earlier"),
                                   ("README.TXT", 2500000000, "2.5000000 s later")]:
            path = os.path.join(self.dist, name)
            os.utime(path, ns=(setup, setup + offset))
            status, report = self.verify()
            self.assertEqual(status, 2, report)
            self.assertIn("FAIL  %s: last-write time %s than SETUP.EXE's" % (name, text), report)
            self.assertIn("Date/time stamp on the file %s does not match" % name, report)
            os.utime(path, ns=(setup, setup))
        # Windows sees 100-ns ticks: a difference within one tick is no difference.
        os.utime(os.path.join(self.dist, "ORDER.TXT"), ns=(setup, setup + 99))
        self.assertEqual(self.verify()[0], 0)

    def test_verify_reports_what_setup_would_stop_at(self):
        self.packed("--store", "--no-encrypt")
        good = os.path.join(self.dir, "good")
        shutil.copytree(self.dist, good)

        def damaged(change):
            shutil.rmtree(self.dist)
            shutil.copytree(good, self.dist)
            change(self.dist)
            return self.verify()

        def remove(name):
            return lambda dist: os.remove(os.path.join(dist, name))

        def flip_data_byte(dist):
            path = os.path.join(dist, "setup.ks")
            with open(path, "r+b") as f:
                data = bytearray(f.read())
                at = data.index(b"Kestra manual line") + 5
                data[at] ^= 0x20
                f.seek(0)
                f.write(data)

        def replace_archive(entries):
            def change(dist):
                with zipfile.ZipFile(os.path.join(dist, "setup.ks"), "w") as z:
                    for name in entries:
                        z.writestr(name, b"x")
            return change

        def unmarked_name(dist):  # "caf\x82.txt": code page 437's é without the UTF-8 flag
            path = os.path.join(dist, "setup.ks")
            replace_archive(["KESTRA32.EX_", "caf\x01.txt"])(dist)
            with open(path, "rb") as f:
                data = f.read()
            with open(path, "wb") as f:
                f.write(data.replace(b"caf\x01", b"caf\x82"))

        def truncate_setup(dist):
            os.truncate(os.path.join(dist, "SETUP.EXE"), 4096)

        def zip64_entry(dist):
            with zipfile.ZipFile(os.path.join(dist, "setup.ks"), "w") as z:
                z.writestr("KESTRA32.EX_", b"x")
                with z.open("BIG.DAT", "w", force_zip64=True) as entry:
                    entry.write(b"written as Zip64")

        def bsdtar_archive(dist):
            unpacked = os.path.join(self.dir, "unpacked")
            shutil.rmtree(unpacked, ignore_errors=True)
            with zipfile.ZipFile(os.path.join(good, "setup.ks")) as z:
                z.extractall(unpacked)
            archive = os.path.join(dist, "setup.ks")
            os.remove(archive)
            subprocess.run(["bsdtar", "--format", "zip", "-cf", archive, "-C", unpacked, "."],
                           check=True)

        cases = [
            (remove("FILE_ID.DIZ"), ["FAIL  FILE_ID.DIZ: missing",
                                     "Cannot find required file FILE_ID.DIZ."]),
            (remove("setup.ks"), ["FAIL  setup.ks: missing", '"setup.ks is missing"']),
            (remove("SETUP.EXE"), ["FAIL  SETUP.EXE: missing"]),
            (flip_data_byte, ["FAIL  setup.ks: the test extraction failed at MANUAL.TXT",
                              "ZIP damaged: file MANUAL.TXT: Bad CRC"]),
            (replace_archive(["KESTRA.INI"]), ["FAIL  KESTRA32.EX_: not in setup.ks",
                                               "Cannot open C:\\Program Files\\Kestra\\KESTRA32.EXE"]),
            (replace_archive(["KESTRA32.EX_", "a/Notes.txt", "b/NOTES.TXT"]),
             ["FAIL  b/NOTES.TXT in setup.ks: installed twice under this name"]),
            (replace_archive(["KESTRA32.EX_", "a/caf\u00e9.txt", "CAF\u00c9.TXT"]),
             ["FAIL  CAF\u00c9.TXT in setup.ks: installed twice under this name"]),
            (replace_archive(["KESTRA32.EX_", "x/README.TXT", "KSSHLSTB.DLL", "what?.txt",
                              "trailing."]),
             ["FAIL  x/README.TXT in setup.ks: this is the name of a side file",
              "FAIL  KSSHLSTB.DLL in setup.ks: this is the stub library",
              "FAIL  what?.txt in setup.ks: Windows file names cannot hold",
              "FAIL  trailing. in setup.ks: Windows drops a final dot"]),
            # The engine's own path rules below the folder setup suggests, as in SETUP.EXE.
            (replace_archive(["KESTRA32.EX_", "docs/CON.TXT"]),
             ["FAIL  docs/CON.TXT in setup.ks: SETUP.EXE refuses it: its name would leave",
              '"Can\'t create output file: ']),
            (replace_archive(["KESTRA32.EX_", "COM\u00b9.txt"]),
             ["FAIL  COM\u00b9.txt in setup.ks: SETUP.EXE refuses it: its name would leave"]),
            (replace_archive(["KESTRA32.EX_", "d" * 300 + "/x.txt"]),
             ["SETUP.EXE refuses it: its path would be longer than 263 characters"]),
            (replace_archive(["KESTRA32.EX_", "\u043f\u0440\u0438\u0432\u0435\u0442/a.txt"]),
             ["FAIL  \u043f\u0440\u0438\u0432\u0435\u0442/a.txt in setup.ks: code page 1252 "
              "(Western Windows) cannot spell this name, folders included"]),
            (unmarked_name, ["FAIL  caf\u00e9.txt in setup.ks: the name has characters above "
                             "ASCII but is not marked as UTF-8"]),
            (truncate_setup, ["FAIL  stub library in SETUP.EXE: ",
                              "Setup cannot access the shell extension file"]),
            (zip64_entry, ["FAIL  BIG.DAT in setup.ks: SETUP.EXE refuses it: its sizes or "
                           "offsets are kept in Zip64 records", '"Invalid Zipfile Header"']),
        ]
        for change, expected in cases:
            status, report = damaged(change)
            self.assertEqual(status, 2, report)
            self.assertTrue(report.rstrip().endswith("SETUP.EXE would not install this distribution: %d problem%s."
                                                     % (report.count("FAIL"), "" if report.count("FAIL") == 1 else "s")), report)
            for text in expected:
                self.assertIn(text, report)
        # bsdtar streams every entry: their sizes are found in the central directory. A name
        # with a leading slash installs under its base name, as SETUP.EXE installs it.
        for change in [bsdtar_archive, replace_archive(["KESTRA32.EX_", "/x.txt"])]:
            status, report = damaged(change)
            self.assertEqual(status, 0, report)

    def assert_pack_fails(self, expected, *options, user=None, limit=None):
        parent = os.path.dirname(self.dist)
        before = sorted(os.listdir(parent))

        def limits():
            signal.signal(signal.SIGXFSZ, signal.SIG_IGN)
            resource.setrlimit(resource.RLIMIT_FSIZE, (limit, limit))

        result = self.pack(*options, user=user, preexec_fn=limits if limit else None)
        stderr = result.stderr.decode()
        self.assertEqual(result.returncode, 2, (expected, stderr))
        self.assertEqual(stderr.count("\n"), 1, stderr)
        self.assertTrue(stderr.startswith("ksdist pack: "), stderr)
        self.assertIn(expected, stderr)
        self.assertEqual(result.stdout, b"")
        self.assertEqual(sorted(os.listdir(parent)), before, "nothing left behind: " + stderr)
        return stderr

    def test_each_error_exits_2_naming_the_file_and_leaves_no_distribution(self):
        side = os.path.join(self.dir, "side")
        shutil.copytree(self.side, side)
        self.side = side
        os.remove(os.path.join(side, "ORDER.TXT"))
        self.assert_pack_fails(os.path.join(side, "ORDER.TXT") + ": missing")
        shutil.copy(os.path.join(SAMPLE, "side-files", "ORDER.TXT"), side)

        cases = [
            ("CON.TXT", "CON.TXT: SETUP.EXE refuses to write this name"),
            ("lpt1", "lpt1: SETUP.EXE refuses to write this name"),
            ("drive:name.txt", "drive:name.txt: SETUP.EXE refuses to write this name"),
            ("ask?.txt", "ask?.txt: Windows file names cannot hold"),
            ("dots...", "dots...: Windows drops a final dot"),
            ("x" * 236, "longer than 235 characters"),
            ("docs/README.TXT", "README.TXT: this is the name of a side file"),
            ("ksshlstb.dll", "ksshlstb.dll: this is the stub library"),
            ("ksSetup.$$$", "ksSetup.$$$: SETUP.EXE keeps its journal and backup"),
            ("CAF\u00c9.TXT", "SETUP.EXE would install it under the same name as"),
            ("\u2591.txt", "\u2591.txt: SETUP.EXE writes names in the Windows ANSI code page"),
            ("docs/more/kestra.ini", "SETUP.EXE would install it under the same name as"),
            ("KESTRA32.EX_", "KESTRA32.EX_: SETUP.EXE would install it under the same name as"),
        ]
        self.write("x" * 235, b"the longest name that fits")
        self.packed()
        shutil.rmtree(self.dist)
        for name, expected in cases:
            path = self.write(name, b"data")
            self.assert_pack_fails(expected)
            os.remove(path)

        os.rename(os.path.join(self.product, "KESTRA32.EXE"), os.path.join(self.product, "K.EXE"))
        self.assert_pack_fails(os.path.join(self.product, "KESTRA32.EXE") + ": missing")
        os.rename(os.path.join(self.product, "K.EXE"), os.path.join(self.product, "kestra32.exe"))
        self.packed()  # the main program's name in any case
        shutil.rmtree(self.dist)

        os.mkfifo(os.path.join(self.product, "pipe"))
        self.assert_pack_fails("pipe: not a regular file")
        os.remove(os.path.join(self.product, "pipe"))

        not_windows = os.path.join(self.dir, "SETUP.TXT")
        with open(not_windows, "w") as f:
            f.write("not a program")
        result = ksdist("pack", "--product", self.product, "--side-files", side, "--setup",
                        not_windows, "--out", self.dist)
        self.assertEqual((result.returncode, result.stderr.decode()),
                         (2, "ksdist pack: %s: not a Windows program\n" % not_windows))

        noise = self.write("NOISE.BIN", random.Random(3).randbytes(3 << 20))
        self.assert_pack_fails(self.dist + "/setup.ks: cannot write: File too large",
                               limit=2 << 20)
        os.remove(noise)

        os.makedirs(os.path.join(self.dist, "old"))
        self.assert_pack_fails(self.dist + ": exists and is not empty")
        self.assertEqual(os.listdir(self.dist), ["old"], "an existing DIST is left alone")
        os.rmdir(os.path.join(self.dist, "old"))
        self.packed()  # an empty DIST is filled
        self.assertIn("setup.ks", os.listdir(self.dist))

    def test_an_unreadable_file_is_named(self):
        unreadable = self.write("docs/SECRET.TXT", b"secret")
        os.chmod(unreadable, 0)
        user = None
        if os.geteuid() == 0:  # root reads anything: run as nobody in a tree nobody owns
            global KSDIST, SETUP_EXE
            programs = KSDIST, SETUP_EXE
            KSDIST = shutil.copy(KSDIST, self.dir)
            SETUP_EXE = shutil.copy(SETUP_EXE, self.dir)
            self.side = shutil.copytree(self.side, os.path.join(self.dir, "side"))
            self.addCleanup(lambda: globals().update(KSDIST=programs[0], SETUP_EXE=programs[1]))
            for root, folders, files in os.walk(self.dir):
                for name in folders + files:
                    os.chown(os.path.join(root, name), NOBODY, NOBODY)
            os.chown(self.dir, NOBODY, NOBODY)
            user = NOBODY
        self.assert_pack_fails(unreadable + ": cannot open: Permission denied", user=user)

    def test_ctrl_c_cancels_and_leaves_nothing_behind(self):
        with open(os.path.join(self.product, "ZEROS.DAT"), "wb") as f:
            f.truncate(1 << 31)  # sparse: takes long to read, costs no disk
        parent = os.path.dirname(self.dist)
        tool = subprocess.Popen([KSDIST, "pack", "--product", self.product, "--side-files",
                                 self.side, "--setup", SETUP_EXE, "--out", self.dist],
                                stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        deadline = time.monotonic() + 30
        while not any(n.startswith(".dist.pack-") for n in os.listdir(parent)):
            self.assertLess(time.monotonic(), deadline, "pack did not start writing")
            if tool.poll() is not None:
                self.fail("pack ended first: %s" % tool.stderr.read())
            time.sleep(0.01)
        tool.send_signal(signal.SIGINT)
        stdout, stderr = tool.communicate(timeout=60)
        self.assertEqual(tool.returncode, 99, stderr)
        self.assertEqual(stderr.decode(), "ksdist pack: cancelled; %s was not written\n" % self.dist)
        self.assertEqual(os.listdir(parent), [])

    def test_usage(self):
        for args in [[], ["--product"], ["--bogus"], ["--level", "0"], ["--level", "13"],
                     ["--level", "1x"], ["--level", "+3"],
                     ["--no-encrypt", "--password", "x"], ["--sign-cert"],
                     ["--timestamp-url", "http://localhost/"]]:
            self.assertEqual(ksdist("pack", *args).returncode, 64, args)
        self.assertEqual(ksdist("verify").returncode, 64)
        self.assertEqual(ksdist("verify", "a", "b").returncode, 64)
        for command, words in [("pack", [b"--product", b"--side-files", b"--setup", b"--out",
                                         b"--store", b"--no-encrypt", b"--password", b"--level",
                                         b"--sign-cert", b"--timestamp-url"]),
                               ("verify", [b"KSSHLEXT", b"100 ns", b"CRC"])]:
            result = ksdist(command, "--help")
            self.assertEqual(result.returncode, 0)
            for word in words:
                self.assertIn(word, result.stdout)
        missing = ksdist("verify", os.path.join(self.dir, "nothing"))
        self.assertEqual(missing.returncode, 2)


if __name__ == "__main__":
    KSDIST, SETUP_EXE, SAMPLE = sys.argv[1], sys.argv[2], sys.argv[3]
    unittest.main(argv=sys.argv[:1], verbosity=2)

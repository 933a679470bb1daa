#!/usr/bin/env python3
"""ksdist unpack against Python's zipfile module: archives written by zipfile come out
byte-identical with their times, archives written by the tests' ZIP writer (also encrypted)
read back in zipfile, and damaged archives, usage errors and Ctrl-C end with their statuses.
Archives from other writers, made here (bsdtar, 7-Zip, zipfile writing to a pipe), come out
byte for byte with their UTF-8 names and folders, or are refused with a line naming why.

usage: unpack_test.py KSDIST MAKE_TEST_ZIP
"""
import io
import os
import random
import shutil
import signal
import struct
import subprocess
import sys
import tempfile
import time
import unittest
import zipfile

KSDIST = MAKE_TEST_ZIP = None
BUILT_IN_PASSWORD = b"Quillfeather\xa9 1987-1995 sample archive text."
STAMP = (2001, 5, 17, 12, 34, 56)


def ksdist(*args):
    return subprocess.run([KSDIST, *args], capture_output=True, timeout=60)


def unpack(*args):
    return ksdist("unpack", *args)


def local_time(stamp):
    return time.mktime(stamp + (0, 0, -1))


def open_for_writing(pipe, reader, seconds=10):
    """Opens the pipe's writing end once `reader` has opened the other; never waits forever."""
    deadline = time.monotonic() + seconds
    while True:
        try:
            descriptor = os.open(pipe, os.O_WRONLY | os.O_NONBLOCK)
            os.set_blocking(descriptor, True)
            return os.fdopen(descriptor, "wb")
        except OSError:
            if reader.poll() is not None or time.monotonic() > deadline:
                raise
            time.sleep(0.05)


class Pipe(io.RawIOBase):
    """What zipfile sees when it writes to a pipe: no seeking, so every entry is streamed."""

    def __init__(self):
        super().__init__()
        self.data = bytearray()

    def writable(self):
        return True

    def write(self, data):
        self.data += data
        return len(data)


def written_files(folder):
    found = {}
    for root, _, names in os.walk(folder):
        for name in names:
            path = os.path.join(root, name)
            with open(path, "rb") as f:
                found[os.path.relpath(path, folder)] = f.read()
    return found


class UnpackTest(unittest.TestCase):
    def setUp(self):
        self.folder = tempfile.TemporaryDirectory(prefix="ksdist-")
        self.dir = self.folder.name
        self.dest = os.path.join(self.dir, "dest")
        os.mkdir(self.dest)
        rng = random.Random(1995)
        self.files = {
            "README.TXT": b"Kestra 8.0\r\n",
            "bin/KESTRA32.EX_": bytes(rng.getrandbits(8) for _ in range(100000)),
            "docs/empty.txt": b"",
            "docs/guide.txt": b"guide " * 5000,
        }

    def tearDown(self):
        self.folder.cleanup()

    def python_zip(self, name="python.zip"):
        path = os.path.join(self.dir, name)
        with zipfile.ZipFile(path, "w", zipfile.ZIP_STORED) as archive:
            archive.writestr(zipfile.ZipInfo("docs/", STAMP), b"")
            for stored, data in self.files.items():
                archive.writestr(zipfile.ZipInfo(stored, STAMP), data)
            archive.comment = b"written by Python's zipfile"
        return path

    def test_a_zipfile_archive_extracts_byte_identical_with_its_times(self):
        result = unpack(self.python_zip(), self.dest)
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertEqual(result.stderr, b"", "no progress output when stderr is not a terminal")
        self.assertEqual(sorted(os.listdir(self.dest)),
                         ["KESTRA32.EX_", "README.TXT", "empty.txt", "guide.txt"])
        for stored, data in self.files.items():
            path = os.path.join(self.dest, os.path.basename(stored))
            with open(path, "rb") as f:
                self.assertEqual(f.read(), data, stored)
            self.assertEqual(os.stat(path).st_mtime, local_time(STAMP), stored)

    def test_options_map_onto_the_request(self):
        archive = self.python_zip()
        for folder in ("bin", "docs"):
            os.mkdir(os.path.join(self.dest, folder))
        result = unpack(archive, self.dest, "--keep-folders", "--skip-empty", "--only", "BIN/kestra32.ex_",
                     "--only", "docs/empty.txt", "--only", "README.TXT")
        self.assertEqual(result.returncode, 0, result.stderr)
        found = sorted(os.path.relpath(os.path.join(d, f), self.dest)
                       for d, _, names in os.walk(self.dest) for f in names)
        self.assertEqual(found, ["README.TXT", "bin/KESTRA32.EX_"])

        prefix = b"a program stands before the archive" * 3
        with open(archive, "rb") as f:
            shifted = prefix + f.read()
        shifted_path = os.path.join(self.dir, "shifted.bin")
        with open(shifted_path, "wb") as f:
            f.write(shifted)
        result = unpack(shifted_path, "--offset", str(len(prefix)))
        self.assertEqual(result.returncode, 0, result.stderr)

    def test_a_test_only_run_writes_nothing(self):
        archive = self.python_zip()
        before = set(os.listdir(self.dir))
        result = unpack(archive)
        self.assertEqual((result.returncode, result.stderr), (0, b""))
        self.assertEqual(set(os.listdir(self.dir)), before)
        self.assertEqual(os.listdir(self.dest), [])

    def test_a_damaged_archive_exits_2_with_the_message_box_text(self):
        archive = self.python_zip()
        with open(archive, "rb") as f:
            original = f.read()
        data = bytearray(original)
        # The CRC field of README.TXT's local header and of its central record, which agree.
        header = data.index(b"PK\x03\x04" + data[4:8], data.index(b"README.TXT") - 30)
        central = data.rindex(b"PK\x01\x02", 0, data.rindex(b"README.TXT"))
        stored_crc = struct.unpack_from("<I", data, header + 14)[0]
        struct.pack_into("<I", data, header + 14, stored_crc ^ 0x00FF0000)
        struct.pack_into("<I", data, central + 16, stored_crc ^ 0x00FF0000)
        damaged = os.path.join(self.dir, "damaged.zip")
        with open(damaged, "wb") as f:
            f.write(data)

        result = unpack(damaged)
        self.assertEqual(result.returncode, 2)
        self.assertEqual(result.stderr.decode(),
                         "ZIP damaged: file README.TXT: Bad CRC %08x (should be %08x)\n"
                         % (stored_crc, stored_crc ^ 0x00FF0000))
        self.assertEqual(unpack(damaged, "--no-crc-check").returncode, 0)
        self.assertEqual(unpack(damaged, self.dest).returncode, 2)
        self.assertNotIn("README.TXT", os.listdir(self.dest), "a file with a bad CRC is removed")

        cut = os.path.join(self.dir, "cut.zip")
        with open(cut, "wb") as f:
            f.write(original[: len(original) // 2])
        result = unpack(cut, self.dest)
        self.assertEqual(result.returncode, 2)
        self.assertEqual(result.stderr.decode(),
                         "Error reading %s.  Possible cause: bad disk\n" % cut)
        self.assertNotIn("KESTRA32.EX_", os.listdir(self.dest), "the entry cut short is removed")

        junk = os.path.join(self.dir, "junk.zip")
        with open(junk, "wb") as f:
            f.write(data[:header] + b"no record follows this text")
        result = unpack(junk)
        self.assertEqual((result.returncode, result.stderr), (2, b"Invalid Zipfile Header\n"))

        missing = os.path.join(self.dir, "missing")
        result = unpack(missing)
        self.assertEqual((result.returncode, result.stderr.decode()),
                         (2, "Can't open input file: %s.ZIP\n" % missing))

    def test_the_writers_encryption_reads_back_in_zipfile(self):
        sources = {}
        for name, data in [("one.bin", os.urandom(5000)), ("two.txt", b"second entry\n" * 100)]:
            path = os.path.join(self.dir, name)
            with open(path, "wb") as f:
                f.write(data)
            sources[name] = (path, data)
        entries = ["%s=%s" % (name, path) for name, (path, _) in sources.items()]
        cases = [
            (["--built-in-password"], BUILT_IN_PASSWORD, []),
            (["--password", "s3cret"], b"s3cret", ["--password", "s3cret"]),
            (["--built-in-password", "--descriptor", "--time", "17:45:10"], BUILT_IN_PASSWORD, []),
        ]
        for writer_options, password, unpack_options in cases:
            archive = os.path.join(self.dir, "encrypted.zip")
            subprocess.run([MAKE_TEST_ZIP, archive, *writer_options, *entries], check=True)
            with zipfile.ZipFile(archive) as z:
                for name, (_, data) in sources.items():
                    self.assertTrue(z.getinfo(name).flag_bits & 1)
                    self.assertEqual(z.read(name, pwd=password), data, writer_options)
            for name in sources:
                target = os.path.join(self.dest, name)
                if os.path.exists(target):
                    os.remove(target)
            result = unpack(archive, self.dest, *unpack_options)
            self.assertEqual(result.returncode, 0, result.stderr)
            for name, (_, data) in sources.items():
                with open(os.path.join(self.dest, name), "rb") as f:
                    self.assertEqual(f.read(), data)
        result = unpack(archive, "--password", "wrong")
        self.assertEqual((result.returncode, result.stderr), (2, b"INCORRECT PASSWORD\n"))

    def other_writers_archives(self):
        """The same small tree written by bsdtar (deflated and stored, both streamed), by zipfile
        writing to a pipe, and by 7-Zip with its ZipCrypto under a password."""
        tree = os.path.join(self.dir, "tree")
        files = {"p/a.txt": b"hello world\n" * 100, "p/sub/b.bin": os.urandom(70000),
                 "p/\u043f\u0440\u0438\u0432\u0435\u0442.txt": b"privet", "p/caf\u00e9.txt": b"",
                 "p/\u65e5\u672c/\u8a9e.txt": "\u65e5\u672c\u8a9e".encode()}
        for name, data in files.items():
            os.makedirs(os.path.dirname(os.path.join(tree, name)), exist_ok=True)
            with open(os.path.join(tree, name), "wb") as f:
                f.write(data)
        archives = []
        for options in ([], ["--options", "zip:compression=store"]):
            path = os.path.join(self.dir, "bsdtar%d.zip" % len(archives))
            subprocess.run(["bsdtar", "--format", "zip", *options, "-cf", path, "-C", tree, "p"],
                           check=True)
            archives.append((path, []))
        pipe = Pipe()
        with zipfile.ZipFile(pipe, "w", zipfile.ZIP_DEFLATED) as z:
            for name, data in files.items():
                with z.open(name, "w") as entry:
                    entry.write(data)
        path = os.path.join(self.dir, "pipe.zip")
        with open(path, "wb") as f:
            f.write(pipe.data)
        archives.append((path, []))
        path = os.path.join(self.dir, "7z.zip")
        subprocess.run(["7z", "a", "-tzip", "-mem=ZipCrypto", "-psecret", path, "p"], cwd=tree,
                       check=True, capture_output=True)
        archives.append((path, ["--password", "secret"]))
        return files, archives

    def test_archives_of_other_writers_come_out_byte_for_byte(self):
        files, archives = self.other_writers_archives()
        for archive, options in archives:
            result = unpack(archive, *options)
            self.assertEqual((result.returncode, result.stderr), (0, b""), archive)
            shutil.rmtree(self.dest)
            os.mkdir(self.dest)
            result = unpack(archive, self.dest, "--keep-folders", *options)
            self.assertEqual((result.returncode, result.stderr), (0, b""), archive)
            self.assertEqual(written_files(self.dest), files, archive)
            shutil.rmtree(self.dest)
            os.mkdir(self.dest)
            result = unpack(archive, self.dest, "--only", "P/\u65e5\u672c/\u8a9e.TXT", *options)
            self.assertEqual((result.returncode, result.stderr), (0, b""), archive)
            self.assertEqual(os.listdir(self.dest), ["\u8a9e.txt"], archive)
        result = unpack(archives[0][0], self.dest, "--only", "p/a.txt", "--only", "p/none.txt")
        self.assertEqual((result.returncode, result.stderr.decode()),
                         (2, "ksdist unpack: no entry of %s is named p/none.txt\n" % archives[0][0]))

    def test_what_setup_cannot_read_is_refused_with_the_reason(self):
        zip64 = os.path.join(self.dir, "zip64.zip")
        with zipfile.ZipFile(zip64, "w") as z:
            with z.open("big.bin", "w", force_zip64=True) as entry:
                entry.write(b"small, but written as Zip64")
        aes = os.path.join(self.dir, "aes.zip")
        with open(os.path.join(self.dir, "secret.txt"), "wb") as f:
            f.write(b"locked away")
        subprocess.run(["7z", "a", "-tzip", "-mem=AES256", "-psecret", aes, "secret.txt"],
                       cwd=self.dir, check=True, capture_output=True)
        for archive, text, reason in [
                (zip64, "Invalid Zipfile Header", "big.bin: its sizes or offsets are kept in Zip64"),
                (aes, "unknown compression", "secret.txt: it is encrypted with AES")]:
            result = unpack(archive, self.dest, "--password", "secret")
            self.assertEqual(result.returncode, 2, archive)
            lines = result.stderr.decode().splitlines()
            self.assertEqual(len(lines), 2, lines)
            self.assertEqual(lines[0], text)
            self.assertTrue(lines[1].startswith(reason), lines[1])
            self.assertEqual(os.listdir(self.dest), [])

    def test_usage_errors_and_help(self):
        for args in [[], ["--offset", "-1", "a.zip"], ["--bogus", "a.zip"], ["a", "b", "c"],
                     ["a.zip", "--only"]]:
            self.assertEqual(unpack(*args).returncode, 64, args)
        self.assertEqual(ksdist("frobnicate").returncode, 64)
        self.assertEqual(ksdist().returncode, 64)
        help_text = unpack("--help")
        self.assertEqual(help_text.returncode, 0)
        for word in [b"usage: ksdist unpack ARCHIVE [DEST]", b"--password", b"--keep-folders",
                     b"--skip-empty", b"--only", b"--offset", b"--no-crc-check", b"99", b"64",
                     b"10240", b"terminal"]:
            self.assertIn(word, help_text.stdout)
        overview = ksdist("--help")
        self.assertEqual(overview.returncode, 0)
        self.assertIn(b"unpack", overview.stdout)

    def test_a_pipe_is_read_forward(self):
        """Through a pipe, stepping over data reads and drops it: a stored inner archive is
        passed over whole, and extra fields of every size never lose the walk its place."""
        inner = io.BytesIO()
        with zipfile.ZipFile(inner, "w") as z:
            z.writestr("a.txt", b"inner")
        nested = io.BytesIO()
        with zipfile.ZipFile(nested, "w") as z:
            z.writestr("inner.zip", inner.getvalue() + os.urandom(20000))
            z.writestr("a.txt", b"outer")
        rng = random.Random(300)
        many = io.BytesIO()
        with zipfile.ZipFile(many, "w") as z:
            for i in range(300):
                info = zipfile.ZipInfo("f%03d.bin" % i, STAMP)
                info.extra = struct.pack("<HH", 0xCAFE, 9000) + bytes(9000)
                z.writestr(info, bytes(rng.getrandbits(8) for _ in range(rng.randrange(50))))
        pipe = os.path.join(self.dir, "pipe.zip")
        os.mkfifo(pipe)
        for data, args, expected in [
                (nested.getvalue(), ["--only", "a.txt"], {"a.txt": b"outer"}),
                (many.getvalue(), [], {i.filename: zipfile.ZipFile(many).read(i)
                                       for i in zipfile.ZipFile(many).infolist()})]:
            shutil.rmtree(self.dest)
            os.mkdir(self.dest)
            tool = subprocess.Popen([KSDIST, "unpack", pipe, self.dest, *args],
                                    stderr=subprocess.PIPE)
            with open_for_writing(pipe, tool) as feed:
                for at in range(0, len(data), 5000):
                    feed.write(data[at:at + 5000])
                    feed.flush()
            _, stderr = tool.communicate(timeout=60)
            self.assertEqual(tool.returncode, 0, stderr)
            self.assertEqual(written_files(self.dest), expected)

    def test_ctrl_c_cancels_at_the_next_progress_point(self):
        """The archive is a pipe, so the test decides when data arrives: the first entry whole,
        then the second entry's header, Ctrl-C, and its data."""
        pipe = os.path.join(self.dir, "pipe.zip")
        os.mkfifo(pipe)
        first = b"first entry"
        second = os.urandom(200000)

        def local(name, data):
            crc = zipfile.crc32(data)
            return struct.pack("<IHHHHHIIIHH", 0x04034B50, 10, 0, 0, 0x6000, 0x2AB1, crc,
                               len(data), len(data), len(name), 0) + name

        tool = subprocess.Popen([KSDIST, "unpack", pipe, self.dest], stderr=subprocess.PIPE)
        with open_for_writing(pipe, tool) as feed:
            feed.write(local(b"first.txt", first) + first + local(b"second.bin", second))
            feed.flush()
            time.sleep(0.5)
            tool.send_signal(signal.SIGINT)
            time.sleep(0.2)
            try:
                feed.write(second)
            except BrokenPipeError:
                pass
        _, stderr = tool.communicate(timeout=30)
        self.assertEqual(tool.returncode, 99, stderr)
        self.assertEqual(stderr, b"")
        self.assertEqual(os.listdir(self.dest), ["first.txt"])


if __name__ == "__main__":
    KSDIST, MAKE_TEST_ZIP = sys.argv[1], sys.argv[2]
    unittest.main(argv=sys.argv[:1], verbosity=2)

"""Qualification catches faults: broken variants of the tool, each with one
behaviour changed as a real fault could change it, are built from a copy of
the sources, and the qualification of each fails and names the scenario
that caught it. The unbroken tool passes (test_qualify).

The variants are built in BUILD/mutants (without optimisation, to build
fast) and qualified in Wine prefixes of their own, three at a time, so that
this test needs none of the build's prefix."""

import os
import shutil
import subprocess
import tempfile
import threading
import unittest

from k27e2e import BUILD, REPO, FreshPrefix, failed_scenarios, junit_cases, qualify

# (name, file, [(text, replaced by)], the scenario that must catch it)
MUTANTS = [
    ("serial-without-padding", "src/server/device_listing.cc",
     [('Append(line, "#%04d", DeviceSerialNumber(record));', 'Append(line, "#%d", DeviceSerialNumber(record));')],
     "server-identities-fails"),
    ("later-branch-with-lower-version-refused", "src/programming/boot_gate.cc",
     [("if (branch == minimum_branch && version < minimum_version)", "if (version < minimum_version)")],
     "boot-higher-branch-lower-version"),
    ("reset-status-ignored", "src/programming/program_device.cc",
     [('  if (status != kStatusDone) FatalExit(1, "RESET REJECTED");\n', "")],
     "reset-rejected"),
    ("time-stamp-little-endian", "src/programming/time_stamp.cc",
     [("WriteBig32(code_block + kCodeTimeStamp, time);",
       "for (int i = 0; i < 4; ++i) code_block[kCodeTimeStamp + i] = static_cast<uint8_t>(time >> (8 * i));")],
     "server-success-codes"),
    ("first-of-two-serials-chosen", "src/server/device_listing.cc",
     [("for (size_t i = eligible.size(); i-- > 0;) {", "for (size_t i = 0; i < eligible.size(); ++i) {")],
     "devices-duplicate-serial-later-wins"),
    ("state-1000-not-eligible", "src/server/device_listing.cc",
     [("return DeviceState(record) >= kStateReadyForCode &&", "return DeviceState(record) > kStateReadyForCode &&")],
     "devices-state-1000-programmed"),
    ("server-1-5-refused", "src/server/connect_server.cc",
     [("minor < kMinimumServerMinor", "minor <= kMinimumServerMinor")],
     "server-version-1-5"),
    ("identity-0-not-preferred", "src/server/identity_choice.cc",
     [("if (triple.number == 0 || !choice.chosen) choice.identity = triple.number;",
       "if (!choice.chosen) choice.identity = triple.number;")],
     "identity-number-0-later-wins"),
    ("magic-checked-before-checksum", "src/image/validate_image.cc",
     [('  if (!VerifyBlockChecksum(code, size)) return Fail(2, "CODE BLOCK CRC CHECK FAILED");\n'
       '  if (ReadBig16(code + kHeaderMagic) != kBlockMagic) return Fail(3, "BAD CODE BLOCK MAGIC");\n',
       '  if (ReadBig16(code + kHeaderMagic) != kBlockMagic) return Fail(3, "BAD CODE BLOCK MAGIC");\n'
       '  if (!VerifyBlockChecksum(code, size)) return Fail(2, "CODE BLOCK CRC CHECK FAILED");\n')],
     "image-code-magic-unsealed"),
    ("group-acquired-before-the-boot-gate", "src/programming/program_device.cc",
     [("  CheckBootCodeGate(device, code.bytes.get());\n", ""),
      ('  if (status != kStatusDone) FatalExit(1, "COULD NOT ACQUIRE CODE PROGRAMMING GROUP AT DEVICE");\n',
       '  if (status != kStatusDone) FatalExit(1, "COULD NOT ACQUIRE CODE PROGRAMMING GROUP AT DEVICE");\n'
       "  CheckBootCodeGate(device, code.bytes.get());\n")],
     "boot-branch-too-low"),
    ("partial-record-accepted", "src/server/device_discovery.cc",
     [('  if (found.response.count % kDeviceRecordSize != 0) FatalExit(1, "DEVICE DETECT RESPONSE INVALID");\n', "")],
     "detect-response-1255-bytes"),
]


def _run(argv, cwd=None):
    done = subprocess.run(argv, cwd=cwd, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                          text=True)
    if done.returncode != 0:
        raise RuntimeError("%s: status %d\n%s" % (" ".join(argv), done.returncode, done.stdout[-4000:]))
    return done.stdout


def cache_value(name):
    with open(os.path.join(BUILD, "CMakeCache.txt")) as f:
        for line in f:
            if line.startswith(name + ":"):
                return line.split("=", 1)[1].strip()
    raise RuntimeError("%s is not in the build's cache" % name)


class Mutants:
    """A copy of the sources (the working tree's tracked files) and a build
    of it, in which one file at a time is broken."""

    def __init__(self, folder):
        self.source = os.path.join(folder, "source")
        self.build = os.path.join(folder, "build")
        self.out = os.path.join(folder, "programs")
        os.makedirs(self.out, exist_ok=True)
        files = _run(["git", "-C", REPO, "ls-files", "-z", "--cached", "--others", "--exclude-standard"])
        for name in files.split("\0"):
            if not name or not os.path.isfile(os.path.join(REPO, name)):
                continue
            target = os.path.join(self.source, name)
            os.makedirs(os.path.dirname(target), exist_ok=True)
            # Only what differs is written, with a new time: a file left as
            # it was keeps the time its object was built from, and one that
            # changed (a variant's put back last time included) is newer.
            with open(os.path.join(REPO, name), "rb") as f:
                data = f.read()
            if os.path.exists(target):
                with open(target, "rb") as f:
                    if f.read() == data:
                        continue
            with open(target, "wb") as f:
                f.write(data)
        if not os.path.exists(os.path.join(self.build, "CMakeCache.txt")):
            _run(["cmake", "-S", self.source, "-B", self.build, "-G", "Ninja",
                  "-DCMAKE_TOOLCHAIN_FILE=" + os.path.join(self.source, "cmake", "mingw-w64.cmake"),
                  "-DK27_CRYPTOPP_DIR=" + cache_value("K27_CRYPTOPP_DIR"),
                  "-DCMAKE_BUILD_TYPE=None"])

    def make(self, name, path, replacements):
        """The tool built with `replacements` made in `path`; each text must
        stand there exactly once."""
        full = os.path.join(self.source, path)
        with open(full) as f:
            original = f.read()
        broken = original
        for text, replacement in replacements:
            if broken.count(text) != 1:
                raise AssertionError("%s: %r is not in %s exactly once" % (name, text, path))
            broken = broken.replace(text, replacement)
        try:
            with open(full, "w") as f:
                f.write(broken)
            _run(["cmake", "--build", self.build, "--target", "k27prog", "--", "-j2", "--quiet"])
        finally:
            with open(full, "w") as f:
                f.write(original)
        exe = os.path.join(self.out, name + ".exe")
        shutil.copy2(os.path.join(self.build, "src", "run", "k27prog.exe"), exe)
        return exe


class MutantsTest(unittest.TestCase):
    def test_each_broken_variant_fails_its_qualification(self):
        self.assertGreaterEqual(len(MUTANTS), 8)
        mutants = Mutants(os.path.join(BUILD, "mutants"))
        programs = [(name, mutants.make(name, path, replacements), caught_by)
                    for name, path, replacements, caught_by in MUTANTS]
        work = tempfile.mkdtemp(prefix="k27mutants-")
        outcomes = {}

        def qualify_in_a_prefix(batch, index):
            with FreshPrefix(os.path.join(work, "prefix-%d" % index)) as prefix:
                for name, exe, _ in batch:
                    report = os.path.join(work, name + ".xml")
                    status, text, seconds = qualify(exe, "--stop-at-first-failure", "--junit", report,
                                                    prefix=prefix.path)
                    outcomes[name] = (status, text, seconds, report)

        # Three prefixes at a time: a qualification mostly waits on Wine's
        # COM to start each server.
        batches = [programs[i::3] for i in range(3)]
        threads = [threading.Thread(target=qualify_in_a_prefix, args=(batch, i)) for i, batch in enumerate(batches)]
        for t in threads:
            t.start()
        for t in threads:
            t.join()
        try:
            for name, _, caught_by in programs:
                with self.subTest(name):
                    status, text, seconds, report = outcomes[name]
                    print("%s: status %d in %.0f s" % (name, status, seconds))
                    self.assertEqual(status, 1, text)
                    self.assertIn("NOT QUALIFIED: ", text)
                    failed = failed_scenarios(text)
                    self.assertEqual(len(failed), 1, text)
                    self.assertEqual(failed[0][0], caught_by, text)
                    cases, suite, _ = junit_cases(report)
                    self.assertEqual(suite["failures"], "1")
                    self.assertEqual(cases[caught_by][1], failed[0][1])
                    # The registration was put back after the failure too.
                    self.assertIn("k27kit: the registration is as it was before the qualification", text)
        finally:
            shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    unittest.main()

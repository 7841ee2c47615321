"""The Windows release kit (scripts/release), unpacked as a Windows user
gets it: what it holds, that its programs are stripped, stamped with the
commit's time and carry the version resource, that its k27image names the
release its k27prog carries and the check a damaged image fails, that its
example benches play as its README says, and that its k27prog runs in a
fresh prefix with nothing from the build tree.

The kit is the one scripts/test keeps (scripts/release --check --out
BUILD/release) or K27_RELEASE_ZIP. Without one the tests are skipped, unless
K27_REQUIRE_RELEASE is set (scripts/test sets it)."""

import hashlib
import json
import os
import re
import shutil
import struct
import subprocess
import tempfile
import time
import unittest
import zipfile
import zlib

from k27e2e import (BANNER, BUILD, PRESS_SPACE, PROMPT, REPO, SERVER_ERROR, FreshPrefix, junit_cases, lines,
                    reg_export, register_simulator, release_zip, run_in_terminal, run_tool, run_wine, seal,
                    servers_ended, unpack_release, wine_env)
from k27model import X_VERSION_AT

SHIPPED = os.path.join(REPO, "resources", "k27image.zlib")
RELEASE_LINE = "Ready to program K27 firmware release 1.1.5(1)"
OBJDUMP = "x86_64-w64-mingw32-objdump"
TEXT_FILES = ("README.txt", "MANIFEST.txt", "bench-kit/README.txt", "bench-kit/bench.md", "bench-kit/catalogue.md",
              "bench-kit/station.md")
CATALOGUE = sorted(n for n in os.listdir(os.path.join(REPO, "kit", "catalogue")) if n.endswith(".json"))
# Every program of the kit: its path, Explorer's "File description", and
# whether it carries the firmware release.
KIT_PROGRAMS = [
    ("k27prog.exe", "K27 firmware programmer, release 1.1.5(1)", True),
    ("k27image.exe", "K27 firmware image tool", False),
    ("bench-kit/k27kit.exe", "K27 bench kit: qualification and the bench commands", False),
    ("bench-kit/k27sim.exe", "K27 bench simulator, not a device server", False),
    ("bench-kit/k27ps.dll", "K27 bench simulator's proxy/stub DLL", False),
]


def manifest_fields(text):
    fields = {}
    for line in text.split("\n"):
        m = re.match(r"([A-Z][a-zA-Z ]+):\s+(.*)$", line)
        if m:
            fields[m.group(1)] = m.group(2)
    sums = dict(reversed(m.groups()) for m in re.finditer(r"^([0-9a-f]{64})  (\S+)$", text, re.M))
    return fields, sums


def expected_version(commit):
    """The version scheme, worked out from every commit's CMakeLists.txt: the
    version the commit's sets, then "-N-g<commit>" for the N commits that are
    not ancestors of the newest commit that set it (one whose parents set
    another version or none)."""
    history = subprocess.run(["git", "-C", REPO, "rev-list", "--parents", commit], capture_output=True, text=True,
                             check=True).stdout.split("\n")
    parents = {line.split()[0]: line.split()[1:] for line in history if line}
    # One git process reads every commit's CMakeLists.txt.
    names = list(parents)
    batch = subprocess.run(["git", "-C", REPO, "cat-file", "--batch"], input="".join(
        "%s:CMakeLists.txt\n" % c for c in names).encode(), capture_output=True, check=True).stdout
    versions, at = {}, 0
    for c in names:
        header_end = batch.index(b"\n", at)
        header = batch[at:header_end].split()
        if header[-1] == b"missing":
            versions[c], at = None, header_end + 1
            continue
        size = int(header[2])
        text = batch[header_end + 1:header_end + 1 + size].decode("utf-8", "replace")
        at = header_end + 1 + size + 1
        m = re.search(r"^project\(k27prog VERSION (\d+\.\d+\.\d+)[ )]", text, re.M)
        versions[c] = m.group(1) if m else None
    version = versions[commit]
    setters = [c for c in names if versions[c] == version and all(versions[p] != version for p in parents[c])]
    count = int(subprocess.run(["git", "-C", REPO, "rev-list", "--count", setters[0] + ".." + commit],
                               capture_output=True, text=True, check=True).stdout)
    return version if count == 0 else "%s-%d-g%s" % (version, count, commit[:12])


def pe_header(data):
    """Time stamp and symbol table pointer of a program."""
    at = struct.unpack_from("<I", data, 0x3C)[0] + 4
    _, _, stamp, symbols = struct.unpack_from("<HHII", data, at)
    return stamp, symbols


class ReleaseKitTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.zip = release_zip()
        if not cls.zip or not os.path.exists(cls.zip):
            if os.environ.get("K27_REQUIRE_RELEASE"):
                raise RuntimeError("no release kit to test (%s)" % cls.zip)
            raise unittest.SkipTest("no release kit: run scripts/release --check --out %s/release" % BUILD)
        cls.work = tempfile.mkdtemp(prefix="k27release-")
        cls.kit = unpack_release(cls.zip, os.path.join(cls.work, "kit"))
        with zipfile.ZipFile(cls.zip) as z:
            cls.entries = z.infolist()
        with open(os.path.join(cls.kit, "MANIFEST.txt"), "rb") as f:
            cls.manifest, cls.sums = manifest_fields(f.read().decode("utf-8").replace("\r\n", "\n"))
        cls.commit = cls.manifest["Commit"]
        cls.epoch = int(subprocess.run(["git", "-C", REPO, "log", "-1", "--format=%ct", cls.commit],
                                       capture_output=True, text=True, check=True).stdout)

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.work, ignore_errors=True)

    def path(self, name):
        return os.path.join(self.kit, *name.split("/"))

    def read(self, name):
        with open(self.path(name), "rb") as f:
            return f.read()

    def test_holds_what_a_windows_user_needs_and_its_manifest_is_right(self):
        names = [e.filename for e in self.entries]
        self.assertEqual(names, sorted(names))
        self.assertEqual(set(names), {
            "k27prog.exe", "k27image.exe", "README.txt", "MANIFEST.txt",
            "bench-kit/k27kit.exe", "bench-kit/k27sim.exe", "bench-kit/k27ps.dll", "bench-kit/README.txt",
            "bench-kit/bench.md", "bench-kit/catalogue.md", "bench-kit/station.md",
            "bench-kit/one-device.json", "bench-kit/erase-fails.json", "bench-kit/old-server.json",
            "bench-kit/line.json"}
            | {"bench-kit/catalogue/" + n for n in CATALOGUE})
        for name in CATALOGUE:
            with open(os.path.join(REPO, "kit", "catalogue", name), "rb") as f:
                self.assertEqual(self.read("bench-kit/catalogue/" + name), f.read().replace(b"\n", b"\r\n"), name)
        self.assertEqual(os.path.basename(self.zip), "k27prog-1.1.5-1-win64.zip")
        # One fixed time, the commit's in UTC to the zip's two seconds, and
        # nothing of the machine that built it.
        t = time.gmtime(self.epoch)
        when = (t.tm_year, t.tm_mon, t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec - t.tm_sec % 2)
        for e in self.entries:
            self.assertEqual((e.date_time, e.extra, e.create_system, e.external_attr), (when, b"", 0, 0x20),
                             e.filename)

        self.assertEqual(self.manifest["Tool version"], expected_version(self.commit))
        self.assertEqual(self.manifest["Firmware release"], "1.1.5(1)")
        with open(SHIPPED, "rb") as f:
            shipped = f.read()
        self.assertEqual(self.manifest["Image resource"],
                         "%d bytes, SHA-256 %s" % (len(shipped), hashlib.sha256(shipped).hexdigest()))
        code = zlib.decompress(shipped)
        self.assertEqual(self.manifest["Code block"], "%d bytes, SHA-256 %s" % (len(code), hashlib.sha256(code).hexdigest()))
        self.assertEqual(set(self.sums), set(names) - {"MANIFEST.txt"})
        for name, digest in self.sums.items():
            self.assertEqual(hashlib.sha256(self.read(name)).hexdigest(), digest, name)

        for name in TEXT_FILES + tuple(n for n in names if n.endswith(".json")):
            data = self.read(name)
            self.assertEqual(data.count(b"\n"), data.count(b"\r\n"), name + " has a line without CRLF")
            self.assertTrue(data.endswith(b"\r\n"), name)

    def test_programs_are_stripped_stamped_and_small(self):
        programs = [e.filename for e in self.entries if e.filename.endswith((".exe", ".dll"))]
        self.assertEqual(len(programs), len(KIT_PROGRAMS))
        for name in programs:
            with self.subTest(name):
                stamp, symbols = pe_header(self.read(name))
                self.assertEqual(stamp, self.epoch, "not stamped with the commit's time")
                self.assertEqual(symbols, 0, "a symbol table")
                done = subprocess.run([OBJDUMP, "-h", self.path(name)], capture_output=True, text=True, check=True)
                sections = re.findall(r"^\s*\d+\s+(\S+)", done.stdout, re.M)
                self.assertIn(".text", sections)
                self.assertEqual([s for s in sections if s.startswith((".debug", "/"))], [])
        self.assertLess(os.path.getsize(self.path("k27prog.exe")), 3 * 1000 * 1000)

    def test_every_program_has_its_version_resource_and_manifest(self):
        version = expected_version(self.commit)
        release = re.fullmatch(r"\d+\.\d+\.\d+", version)
        count = "0" if release else version.split("-")[1]
        self.assertEqual(sorted(name for name, _, _ in KIT_PROGRAMS),
                         sorted(e.filename for e in self.entries if e.filename.endswith((".exe", ".dll"))))
        for name, description, firmware in KIT_PROGRAMS:
            with self.subTest(name):
                status, out, err = run_wine(os.path.join(BUILD, "tests", "k27_version_query.exe"), self.path(name))
                self.assertEqual(status, 0, err)
                fields = dict(line.split("=", 1) for line in out.split("\n") if "=" in line)
                self.assertEqual(fields["ProductVersion"], version)
                self.assertEqual(fields["FileVersion"], version)
                self.assertEqual(fields["FileDescription"], description)
                self.assertEqual(fields["OriginalFilename"], os.path.basename(name))
                self.assertEqual(fields["ProductName"], "k27prog")
                self.assertEqual(fields["translation"], "0000 04B0")
                self.assertEqual(fields["fixed.FileVersion"], version.split("-")[0] + "." + count)
                self.assertEqual(fields["fixed.FileFlags"], "0x0" if release else "0x2")  # VS_FF_PRERELEASE
                self.assertEqual(fields["fixed.FileType"], "2" if name.endswith(".dll") else "1")
                self.assertEqual(fields.get("FirmwareRelease"), "1.1.5(1)" if firmware else None)
                if name.endswith(".dll"):
                    self.assertEqual(fields["manifest"], "none")  # the loading program's manifest rules
                    continue
                manifest = fields["manifest"]
                self.assertIn('<requestedExecutionLevel level="asInvoker" uiAccess="false"/>', manifest)
                # Windows 10 and 11 share one identifier.
                self.assertIn('<supportedOS Id="{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}"/>', manifest)
                self.assertIn('xmlns:ws2="http://schemas.microsoft.com/SMI/2016/WindowsSettings"', manifest)
                self.assertIn("<ws2:longPathAware>true</ws2:longPathAware>", manifest)

    def test_image_tool_names_the_release_and_each_damaged_image(self):
        status, out, err = run_wine(self.path("k27image.exe"), "info", "k27prog.exe", cwd=self.kit)
        self.assertEqual(status, 0, out + err)
        self.assertIn("file: k27prog.exe, %d bytes, read as a program\n" % os.path.getsize(self.path("k27prog.exe")), out)
        self.assertIn("release: 1.1.5(1)\n", out)
        self.assertTrue(out.endswith('verdict: accepted; k27prog prints "%s"\n' % RELEASE_LINE), out)

        with open(SHIPPED, "rb") as f:
            shipped = f.read()
        code = bytearray(zlib.decompress(shipped))
        x_version = bytearray(code)
        x_version[X_VERSION_AT] = 2
        seal(x_version)
        body = bytearray(code)
        body[300] ^= 0x01
        flipped = bytearray(shipped)
        flipped[len(flipped) // 2] ^= 0x10
        cases = [
            ("code header X version 2", zlib.compress(bytes(x_version), 6),
             "at check 8 of 24: UNKNOWN CODE HEADER X VERSION (exit status 108)", 108),
            ("a body byte changed", zlib.compress(bytes(body), 6),
             "at check 2 of 24: CODE BLOCK CRC CHECK FAILED (exit status 1)", 1),
            ("a compressed byte flipped", bytes(flipped),
             "before the image checks: CODE DECOMPRESSION FAILED (exit status 1)", 1),
            ("no image", None, "before the image checks: CODE RESOURCE NOT FOUND (exit status 1)", 1),
        ]
        for name, resource, verdict, tool_status in cases:
            with self.subTest(name):
                exe = os.path.join(self.work, name.replace(" ", "_") + ".exe")
                if resource is None:
                    args = ["embed", "--remove", self.path("k27prog.exe"), exe]
                else:
                    with open(exe + ".zlib", "wb") as f:
                        f.write(resource)
                    args = ["embed", self.path("k27prog.exe"), exe + ".zlib", exe]
                status, out, err = run_wine(self.path("k27image.exe"), *args)
                self.assertEqual(status, 0, err)
                # The copy's headers agree with its contents.
                dump = subprocess.run([OBJDUMP, "-p", exe], capture_output=True, text=True)
                self.assertEqual(dump.returncode, 0, dump.stderr)

                status, out, err = run_wine(self.path("k27image.exe"), "info", exe)
                self.assertEqual(status, 1, out + err)
                self.assertTrue(out.endswith("verdict: refused %s\n" % verdict), out)
                # The tool itself ends with that message and status.
                message = re.search(r": (.*) \(exit status", verdict).group(1)
                r = run_tool(exe=exe, keys=[(PRESS_SPACE, " ")], timeout=60)
                shown = [line for line in lines(r.transcript) if not line.startswith("wine: ")]
                self.assertEqual(shown, [BANNER, message, PRESS_SPACE], r)
                self.assertEqual(r.status, tool_status)

    def test_example_benches_play_as_the_kit_readme_says(self):
        readme = self.read("bench-kit/README.txt").decode("utf-8")
        type_42 = (PROMPT, "42\r")
        cases = [
            ("one-device.json", [type_42], "PROGRAMMING SUCCESSFUL", 0),
            ("erase-fails.json", [type_42], "Code flash erase ... erasing ... CODE FLASH ERASE FAILED", 1),
            ("old-server.json", [], "UNABLE TO CONTINUE - REQUIRE SERVER VERSION 1.5+", 1),
            ("line.json", [type_42], "PROGRAMMING SUCCESSFUL", 0),
        ]
        self.assertEqual(sorted(c[0] for c in cases),
                         sorted(os.path.basename(e.filename) for e in self.entries
                                if e.filename.endswith(".json") and e.filename.count("/") == 1))
        for name, keys, outcome, status in cases:
            with self.subTest(name):
                bench = self.path("bench-kit/" + name)
                self.assertIn(name, readme)
                self.assertIn("status %d" % status, re.search(re.escape(name) + r"(.*?)status \d", readme, re.S).group(0))
                code, out, err = run_wine(self.path("bench-kit/k27kit.exe"), "check", bench)
                self.assertEqual(code, 0, out + err)
                r = run_tool(exe=self.path("k27prog.exe"), bench=bench, keys=keys + [(PRESS_SPACE, " ")])
                shown = lines(r.transcript)
                self.assertEqual(shown[:2], [BANNER, RELEASE_LINE], r)
                self.assertEqual(shown[-2:], [outcome, PRESS_SPACE], r)
                self.assertEqual(r.status, status)
                # line.json is a shared bench: its server is let end before
                # the next bench is played.
                self.assertTrue(servers_ended(r.journal_path), r)

    def test_readme_lists_every_message_with_its_status(self):
        text = self.read("README.txt").decode("utf-8").replace("\r\n", "\n")
        with open(os.path.join(REPO, "README.md")) as f:
            table = re.findall(r'^\| (\d+) \| "([^"]+)" \|', f.read(), re.M)
        self.assertGreater(len(table), 40)
        for status, message in table:
            self.assertRegex(text, r"(?m)^ *%s  %s$" % (status, re.escape(message)))
        self.assertIn("\n    " + RELEASE_LINE + "\n", text)
        self.assertIn('DO NOT INTERRUPT A RUN ONCE "Code flash erase" HAS STARTED', text)
        self.assertRegex(text, r"Closing the window\s+cannot be refused by a console program")

    def test_a_windows_user_rehearses_with_the_kit_as_its_readme_says(self):
        # The kit's own commands, from its bench-kit\README.txt, in a prefix
        # that has never seen the build: unpacked to C:\k27kit, registered
        # with the kit's own k27kit.exe. Wine's COM starts only servers
        # registered for the whole machine, so the per-user lines are left
        # out here (the README gives both).
        readme = self.read("bench-kit/README.txt").decode("utf-8").replace("\r\n", "\n")
        # The section's lines, up to the next section's title.
        steps = re.split(r"\n[A-Z][A-Z ,]+\n-{3,}\n", readme.split("REHEARSING A RELEASE, STEP BY STEP\n")[1])[0]
        commands = [line.strip() for line in steps.split("\n")
                    if re.match(r"     \S", line) and "--per-user" not in line]
        self.assertEqual(commands[:2], ["cd /d C:\\k27kit", "mkdir journal"])
        self.assertTrue(any("k27kit.exe register --bench" in c for c in commands), commands)
        self.assertTrue(any(c.endswith("k27kit.exe unregister") for c in commands), commands)
        self.assertFalse(any("start" in c for c in commands), commands)
        with FreshPrefix(os.path.join(self.work, "user-prefix")) as prefix:
            unpack_release(self.zip, prefix.drive_c("k27kit"))
            # The README's last word: on a PC without a device server the
            # tool then ends right after the release line.
            script = commands + ["k27prog.exe", "echo status %ERRORLEVEL%"]
            with open(prefix.drive_c("k27kit", "rehearsal.cmd"), "w", newline="\r\n") as f:
                f.write("\n".join(script) + "\n")
            screen, status = run_in_terminal(["wine", "cmd", "/c", r"C:\k27kit\rehearsal.cmd"],
                                             [(PROMPT, "42\r"), (PRESS_SPACE, " "), (PRESS_SPACE, " ")],
                                             env=prefix.env(), timeout=240)
            self.assertEqual(status, 1, screen)  # the batch's last status: the second run's
            self.assertIn("\n" + r"bench-kit\one-device.json: a bench of 1 device(s)", screen)
            self.assertIn(r"k27sim: registered C:\k27kit\bench-kit\k27sim.exe for every user of this PC "
                          r"(bench: C:\k27kit\bench-kit\one-device.json, journal: C:\k27kit\journal\run.jsonl)",
                          screen)
            first, second = screen.split(RELEASE_LINE + "\n")[1:3]
            self.assertIn("Found : K27#0042", first)
            self.assertIn("\nPROGRAMMING SUCCESSFUL\nPress space to exit\n", first)
            self.assertRegex(first, r"echo 0\s*\n0\n")  # the status after the space key
            self.assertRegex(first, r'\n\{"args":\{"address":524288,"code":\{"count":142180,[^\n]*"op":"Program"')
            self.assertIn("k27sim: unregistered the bench simulator for every user of this PC", first)
            self.assertTrue(second.startswith(SERVER_ERROR + "\n" + PRESS_SPACE + "\n"), second)
            self.assertIn("status 1", second)
            self.assertTrue(os.path.exists(prefix.drive_c("k27kit", "journal", "Program-1.bin")))

    def test_a_windows_user_qualifies_the_kit_as_its_readme_says(self):
        # The cmd.exe lines of "QUALIFYING A RELEASE", as written, in a prefix
        # that has never seen the build, the kit unpacked at C:\k27kit under a
        # folder 200 characters deep (a long user name, Downloads, a folder
        # per release...): the README's C:\k27kit stands for that.
        readme = self.read("bench-kit/README.txt").decode("utf-8").replace("\r\n", "\n")
        section = readme.split("QUALIFYING A RELEASE")[1].split("REHEARSING A RELEASE")[0]
        for_cmd, for_powershell = section.split("or in PowerShell:")
        commands = [line.strip() for line in for_cmd.split("\n") if re.match(r"     \S", line)]
        self.assertEqual(commands, ["cd /d C:\\k27kit",
                                    "bench-kit\\k27kit.exe qualify k27prog.exe --junit qualification.xml",
                                    "echo %ERRORLEVEL%"])
        self.assertIn(".\\bench-kit\\k27kit.exe qualify .\\k27prog.exe --junit qualification.xml\n     "
                      "$LASTEXITCODE", for_powershell)
        parts = ["Users", "Release Engineer " + "x" * 60, "Downloads"]
        parts.append("k27prog-1.1.5-1 " + "r" * (200 - len("C:\\" + "\\".join(parts)) - len("\\k27prog-1.1.5-1 ")))
        folder = "C:\\" + "\\".join(parts)
        self.assertEqual(len(folder), 200)
        where = folder + "\\k27kit"
        with FreshPrefix(os.path.join(self.work, "qualifying-prefix")) as prefix:
            unpack_release(self.zip, prefix.drive_c(*parts, "k27kit"))
            before = {key: reg_export(key, prefix=prefix.path)
                      for key in ("HKLM\\Software\\Classes", "HKCU\\Software\\Classes")}
            script = prefix.drive_c("qualify.cmd")
            with open(script, "w", newline="\r\n") as f:
                f.write("\n".join(c.replace("C:\\k27kit", where) for c in commands) + "\n")
            started = time.monotonic()
            ran = run_wine("cmd", "/c", r"C:\qualify.cmd", prefix=prefix.path, timeout=600)
            print("qualification of the release kit's tool: %.0f s" % (time.monotonic() - started))
            status, out, err = ran
            text = out + err
            self.assertEqual(status, 0, ran)
            self.assertIn("\nQUALIFIED: %s\\k27prog.exe behaves as documented in every scenario\n" % where, text)
            # echo %ERRORLEVEL% writes to standard output; Wine may add its own
            # lines on standard error, which text carries after it.
            self.assertRegex(out, r"\n0\s*$", text)
            self.assertEqual({key: reg_export(key, prefix=prefix.path) for key in before}, before,
                             "the qualification left the registration changed")
            cases, suite, properties = junit_cases(prefix.drive_c(*parts, "k27kit", "qualification.xml"))
            summary = re.search(r"^(\d+) scenarios: \1 passed, 0 failed, 0 not applicable", text, re.M)
            self.assertTrue(summary, text)
            self.assertEqual((suite["tests"], suite["failures"], suite["skipped"]), (summary.group(1), "0", "0"))
            self.assertEqual(len(cases), int(summary.group(1)))
            self.assertEqual(properties["program"], where + r"\k27prog.exe")
            self.assertEqual(properties["release"], "1.1.5(1)")

    def test_a_line_runs_as_the_readme_says(self):
        # The station's lines for cmd.exe, as written, with the kit at the
        # README's C:\k27kit (here where it was unpacked) and a serial fed
        # to the station; the simulator's built-in bench stands in for the
        # device server.
        text = self.read("README.txt").decode("utf-8").replace("\r\n", "\n")
        section = text.split("PROGRAMMING A LINE OF DEVICES: THE STATION")[1].split("REHEARSING ON A BENCH PC")[0]
        for_cmd, rest = section.split("or in PowerShell:")
        commands = [line.strip() for line in for_cmd.split("\n") if re.match(r"     \S", line)]
        self.assertEqual(commands, ["cd /d C:\\k27kit", "if not exist runs mkdir runs",
                                    "bench-kit\\k27kit.exe station k27prog.exe --record runs\\line.jsonl --parallel 2"])
        self.assertIn("     .\\bench-kit\\k27kit.exe station .\\k27prog.exe --record runs\\line.jsonl --parallel 2\n",
                      rest)
        records = [line.strip() for line in rest.split("\n") if re.match(r"     bench-kit\\k27kit.exe records ", line)]
        self.assertEqual(records, ["bench-kit\\k27kit.exe records runs\\line.jsonl --csv runs\\line.csv"])
        register_simulator()
        where = "Z:" + self.kit.replace("/", "\\")
        script = os.path.join(self.work, "line.cmd")
        with open(script, "w", newline="\r\n") as f:
            f.write("\n".join([c.replace("C:\\k27kit", where) for c in commands] + records) + "\n")
        done = subprocess.run(["wine", "cmd", "/c", "Z:" + script.replace("/", "\\")], input=b"42\r\n",
                              env=wine_env(), stdout=subprocess.PIPE, stderr=subprocess.STDOUT, timeout=300)
        out = done.stdout.decode("utf-8", "replace").replace("\r\n", "\n")
        self.assertIn(", as MANIFEST.txt beside it gives\n", out)
        self.assertIn("\n42: PROGRAMMING SUCCESSFUL (", out)
        self.assertIn("\n1 file, 1 runs (1 ended, 0 with no end)\n", out)
        with open(os.path.join(self.kit, "runs", "line.jsonl"), encoding="utf-8") as f:
            start, end = [json.loads(line) for line in f]
        self.assertEqual((start["event"], end["event"], end["outcome"]), ("start", "end", "PROGRAMMING SUCCESSFUL"))
        self.assertEqual(end["tool_sha256"], self.sums["k27prog.exe"])
        self.assertEqual((end["release"], end["tool_release"]), ("1.1.5(1)", "1.1.5(1)"))
        self.assertTrue(os.path.exists(os.path.join(self.kit, "runs", "line.csv")))

        # A copy that is not the release's, beside the release's MANIFEST.txt,
        # is refused before any run.
        changed = os.path.join(self.work, "changed")
        os.makedirs(changed)
        shutil.copy(os.path.join(self.kit, "MANIFEST.txt"), changed)
        data = bytearray(self.read("k27prog.exe"))
        data[-1] ^= 1
        with open(os.path.join(changed, "k27prog.exe"), "wb") as f:
            f.write(data)
        ran = run_wine(self.path("bench-kit/k27kit.exe"), "station", os.path.join(changed, "k27prog.exe"),
                       "--record", os.path.join(changed, "line.jsonl"))
        self.assertEqual(ran.status, 1, ran)
        self.assertIn("k27prog.exe is not the release's: its SHA-256 is %s, " % hashlib.sha256(data).hexdigest(),
                      ran.err)
        self.assertFalse(os.path.exists(os.path.join(changed, "line.jsonl")))

    def test_tool_runs_in_a_fresh_prefix_and_finds_no_server(self):
        with FreshPrefix(os.path.join(self.work, "prefix")) as prefix:
            r = run_tool(exe=self.path("k27prog.exe"), keys=[(PRESS_SPACE, " ")], prefix=prefix.path, register=False,
                         journal=False)
            # Wine may speak for itself on standard error; that is not the tool's.
            shown = [line for line in lines(r.transcript) if not line.startswith("wine: ")]
            self.assertEqual(shown, [BANNER, RELEASE_LINE, SERVER_ERROR, PRESS_SPACE], r)
            self.assertEqual(r.status, 1)


if __name__ == "__main__":
    unittest.main()

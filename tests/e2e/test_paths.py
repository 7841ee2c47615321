"""Paths in any script and of any length: every program of the kit placed
in a folder with Cyrillic letters, one with CJK characters and one whose
paths run past 260 characters, run from there on files beside it, with its
output redirected and in a terminal; and the simulator serving a whole run
from each folder, its bench and journal there too."""

import json
import os
import re
import shutil
import unittest

from k27e2e import (BUILD, PRESS_SPACE, PROMPT, device, drive_c, lines, register_simulator, run_in_terminal, run_tool,
                    run_wine, sim_exe, simulator, tool_exe, wine_env)

TOP = "k27-paths"

# Folders under C:\k27-paths. The long one stays within a Unix file name's
# 255 bytes per folder.
FOLDERS = [
    ("Cyrillic", ["Пётр Иванов", "Рабочий стол"]),
    ("CJK", ["試験 フォルダ", "测试"]),
    ("past 260 characters", ["long " + "x" * 70, "Длинная папка " + "y" * 60, "z" * 80, "w" * 40]),
]

# Every program of the kit that takes paths: where it is built, what must
# sit beside it, a command on a file in its folder ({dir} is the folder's
# Windows path), and the first line it prints (standard output and error
# together) with the status it ends with.
PROGRAMS = [
    ("k27image.exe", os.path.join("bin", "k27image.exe"), {"k27prog.exe": tool_exe()},
     ["info", r"{dir}\k27prog.exe"], r"file: {dir}\k27prog.exe, {size} bytes, read as a program", 0),
    ("k27image.exe (a missing file)", os.path.join("bin", "k27image.exe"), {},
     ["info", r"{dir}\absent.exe"], r"k27image: {dir}\absent.exe: No such file or directory", 1),
    ("k27kit.exe", os.path.join("bin", "k27kit.exe"), {"bench.json": None},
     ["check", r"{dir}\bench.json"], r"{dir}\bench.json: a bench of 1 device(s), server version 1.6", 0),
]


def windows_path(parts):
    return "C:\\" + "\\".join([TOP] + parts)


def program_folder(parts):
    """Where a program goes: in the folder, unless its path there would be
    259 characters or more; Windows starts no program from such a path
    (Wine does, from a Unix path), so it goes to a short folder and takes
    its files from the long one."""
    return parts if len(windows_path(parts) + "\\k27image.exe") < 259 else ["bin"]


def unix_path(parts):
    return drive_c(TOP, *parts)


class PathsTest(unittest.TestCase):
    def setUp(self):
        shutil.rmtree(drive_c(TOP), ignore_errors=True)
        self.addCleanup(shutil.rmtree, drive_c(TOP), True)

    def place(self, parts, name, source):
        folder = unix_path(parts)
        os.makedirs(folder, exist_ok=True)
        target = os.path.join(folder, name)
        if source is None:
            with open(target, "w") as f:
                # The tool prints a device's label as the server's bytes: ASCII here.
                json.dump({"devices": [device(label="Bench of %d" % len(parts))]}, f)
        else:
            shutil.copy(source, target)
        return target

    def test_every_program_takes_paths_in_any_script_and_of_any_length(self):
        for folder, parts in FOLDERS:
            where = windows_path(parts)
            if folder.startswith("past"):
                self.assertGreater(len(where + r"\k27prog.exe"), 260)
            for name, built, beside, args, first_line, status in PROGRAMS:
                with self.subTest(folder=folder, program=name):
                    exe = self.place(program_folder(parts), os.path.basename(built), os.path.join(BUILD, built))
                    sizes = {n: os.path.getsize(self.place(parts, n, s)) for n, s in beside.items()}
                    expected = first_line.format(dir=where, size=sizes.get("k27prog.exe"))
                    command = [exe] + [a.format(dir=where) for a in args]
                    code, out, err = run_wine(*command)
                    self.assertEqual(code, status, out + err)
                    self.assertEqual((out + err).split("\n")[0], expected)
                    # In a terminal the console shows the characters themselves.
                    screen, code = run_in_terminal(["wine"] + command, [], env=wine_env())
                    self.assertEqual(code, status, screen)
                    self.assertIn(expected + "\n", screen)

    def test_the_simulator_serves_a_run_from_each_folder(self):
        try:
            for folder, parts in FOLDERS:
                with self.subTest(folder=folder):
                    where = windows_path(parts)
                    sim_parts = program_folder(parts)
                    for name in ("k27sim.exe", "k27ps.dll"):
                        self.place(sim_parts, name, os.path.join(os.path.dirname(sim_exe()), name))
                    self.place(parts, "bench.json", None)
                    journal = os.path.join(unix_path(parts), "runs", "journal.jsonl")
                    os.makedirs(os.path.dirname(journal))
                    status, said = simulator("/RegServer", "/bench", where + r"\bench.json", "/journal",
                                             where + r"\runs\journal.jsonl",
                                             sim=os.path.join(unix_path(sim_parts), "k27sim.exe"))
                    # Its folder, which the test made, only its owner may write.
                    self.assertEqual(said, "k27sim: registered %s\\k27sim.exe for every user of this PC (bench: "
                                     "%s\\bench.json, journal: %s\\runs\\journal.jsonl); note: not every user of "
                                     "this PC may create files in %s\\runs: the server runs as whoever runs the tool, "
                                     "and the runs of those who may not write there leave no journal\n"
                                     % (windows_path(sim_parts), where, where, where))
                    r = run_tool(register=False, journal=journal, keys=[(PROMPT, "42\r"), (PRESS_SPACE, " ")])
                    self.assertEqual(r.status, 0, r)
                    self.assertIn("Found : K27#0042 (Bench of %d) BootV1.3" % len(parts), r.transcript)
                    self.assertEqual(lines(r.transcript)[-2:], ["PROGRAMMING SUCCESSFUL", PRESS_SPACE])
                    start = [e for e in r.journal if e["op"] == "Start"][0]
                    self.assertEqual(start["bench"], where + r"\bench.json")
                    # COM started it by its path alone, the files beside the
                    # command line: '"C:\\...\\k27sim.exe" -Embedding'.
                    self.assertEqual(start["command_line"], '"%s\\k27sim.exe" -Embedding' % windows_path(sim_parts))
                    self.assertTrue(os.path.exists(os.path.join(os.path.dirname(journal), "Program-1.bin")))
        finally:
            register_simulator()

    def test_the_kit_qualifies_a_program_in_each_folder(self):
        # The kit (with the simulator, its proxy and the catalogue) where it
        # can be started; the program, the kept files and the report in the
        # folder itself.
        for folder, parts in FOLDERS:
            with self.subTest(folder=folder):
                where = windows_path(parts)
                kit_parts = program_folder(parts)
                for name in ("k27kit.exe", "k27sim.exe", "k27ps.dll"):
                    self.place(kit_parts, name, os.path.join(os.path.dirname(sim_exe()), name))
                shutil.copytree(os.path.join(os.path.dirname(sim_exe()), "catalogue"),
                                os.path.join(unix_path(kit_parts), "catalogue"), dirs_exist_ok=True)
                self.place(parts, "k27prog.exe", tool_exe())
                code, out, err = run_wine(os.path.join(unix_path(kit_parts), "k27kit.exe"), "qualify",
                                          where + r"\k27prog.exe", "--only", "image-code-magic", "--only",
                                          "programmed-erase-polled", "--keep", where + r"\kept", "--junit",
                                          where + r"\report.xml", timeout=300)
                text = out + err
                self.assertEqual(code, 0, text)
                self.assertIn("k27kit: qualifying %s\\k27prog.exe (firmware release 1.1.5(1)" % where, text)
                self.assertIn("\nQUALIFIED: %s\\k27prog.exe behaves as documented in every scenario played" % where,
                              text)
                self.assertEqual("played from a copy" in text, len(where + r"\k27prog.exe") >= 259, text)
                kept = os.path.join(unix_path(parts), "kept", "programmed-erase-polled")
                self.assertTrue(os.path.exists(os.path.join(kept, "Program-1.bin")), text)
                self.assertTrue(os.path.exists(os.path.join(unix_path(parts), "report.xml")))

    def test_a_deep_simulator_is_registered_by_its_short_path(self):
        # Wine's COM starts no server whose command line, with " -Embedding",
        # reaches 260 characters: a path of 247 to 259 is registered in its
        # short form, and the server it starts still finds its files; from
        # 260 on nothing starts it, and it is refused.
        for length in (246, 247, 259, 260):
            with self.subTest(length=length):
                parts = ["a" * 100, "b" * (length - len(windows_path(["a" * 100, ""]) + "\\k27sim.exe"))]
                where = windows_path(parts)
                self.assertEqual(len(where + "\\k27sim.exe"), length)
                for name in ("k27sim.exe", "k27ps.dll"):
                    self.place(parts, name, os.path.join(os.path.dirname(sim_exe()), name))
                self.place(parts, "bench.json", None)
                journal = os.path.join(unix_path(parts), "journal.jsonl")
                # Started by its C: path: Wine keeps its own prefix out of the
                # Z: drive's listings, so a Z: path into it has no short form.
                code, said = simulator("/RegServer", "/bench", where + r"\bench.json", "/journal",
                                       where + r"\journal.jsonl", sim=where + r"\k27sim.exe", check=False)
                if length >= 260:
                    self.assertEqual(code, 1, said)
                    # With the error Windows gives for such a path, in its words.
                    self.assertRegex(said, "^%s[^\n]+ \\(206\\)\\); move the kit to a shorter folder\n$" % re.escape(
                        "k27sim: not registered: %s\\k27sim.exe is 260 characters long: Windows starts no program, "
                        "and loads no DLL, from a path of 260 characters or more (" % where))
                    continue
                self.assertEqual(code, 0, said)
                r = run_tool(register=False, journal=journal, keys=[(PROMPT, "42\r"), (PRESS_SPACE, " ")])
                self.assertEqual(r.status, 0, r)
                registered = [e for e in r.journal if e["op"] == "Start"][0]["command_line"]
                self.assertLess(len(registered), 260, registered)
                self.assertEqual("~" in registered, length > 246, registered)
        # By a Z: path into the prefix, which Wine gives no short form: the
        # refusal is Wine's own, and carries the system's error.
        z_path = "Z:" + unix_path(["a" * 100, ""]).replace("/", "\\")
        parts = ["a" * 100, "b" * (250 - len(z_path + "\\k27sim.exe"))]
        for name in ("k27sim.exe", "k27ps.dll"):
            self.place(parts, name, os.path.join(os.path.dirname(sim_exe()), name))
        z_sim = "Z:" + unix_path(parts).replace("/", "\\") + "\\k27sim.exe"
        self.assertEqual(len(z_sim), 250)
        code, said = simulator("/RegServer", sim=z_sim, check=False)
        self.assertEqual(code, 1, said)
        self.assertRegex(said, r"^k27sim: not registered: %s is 250 characters long: under Wine, whose COM starts no "
                         r"server from a command line of 260 characters or more \(the path, its quotes and "
                         r"\" -Embedding\"\), it is registered by its short \(8\.3\) form, which cannot be had: "
                         r"[^\n]+ \(\d+\); move the kit to a shorter folder\n$" % re.escape(z_sim))
        register_simulator()

if __name__ == "__main__":
    unittest.main()

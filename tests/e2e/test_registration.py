"""The bench simulator's own registration, in a Wine prefix made afresh as a
PC that has never seen the kit: the bench and the journal travel in the
registration and nowhere else, unregistering leaves the classes as they
were, a foreign device server is never replaced unless forced, the switches
print where they were run from, and the Windows recipe of docs/bench.md runs
as written."""

import json
import os
import pathlib
import re
import shutil
import subprocess
import tempfile
import unittest

from k27e2e import (BANNER, INTERFACES, PRESS_SPACE, PROMPT, PROXY_CLASS, REPO, SERVER_CLASS, SERVER_ERROR, FreshPrefix,
                    checked, device, entry, lines, reg_export, run_in_terminal, run_tool, run_wine, sim_exe, simulator,
                    tool_exe, windows_paths)

MACHINE = r"HKEY_LOCAL_MACHINE\Software\Classes"
USER = r"HKEY_CURRENT_USER\Software\Classes"
SPACE = (PRESS_SPACE, " ")


def documented_keys(root):
    keys = [r"CLSID\%s" % SERVER_CLASS, r"CLSID\%s\LocalServer32" % SERVER_CLASS,
            r"CLSID\%s" % PROXY_CLASS, r"CLSID\%s\InProcServer32" % PROXY_CLASS]
    for iid in INTERFACES:
        keys += [r"Interface\%s" % iid, r"Interface\%s\NumMethods" % iid, r"Interface\%s\ProxyStubClsid32" % iid]
    return {root + "\\" + k for k in keys}


def windows_recipe():
    """The command lines that docs/bench.md gives for Windows."""
    text = pathlib.Path(os.path.join(REPO, "docs", "bench.md")).read_text()
    block = text.split("<!-- windows-recipe", 1)[1].split("-->", 1)[1]
    found = []
    for line in block.lstrip("\n").split("\n"):
        if not line.startswith("    "):
            if found:
                break
            continue
        found.append(line[4:])
    return found


class FreshPrefixTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        # Nothing of the simulator may come from the environment.
        for name in ("K27SIM_BENCH", "K27SIM_JOURNAL"):
            os.environ.pop(name, None)
        cls.prefix = FreshPrefix()
        cls.work = tempfile.mkdtemp(prefix="k27e2e-registration-")

    @classmethod
    def tearDownClass(cls):
        cls.prefix.close()
        shutil.rmtree(cls.work, ignore_errors=True)

    def sim(self, *args, check=True):
        return simulator(*args, prefix=self.prefix.path, check=check)

    def export(self, key):
        keys = reg_export(key, self.prefix.path)
        # A fresh prefix has no user classes until something writes one; the
        # empty root that stays is no registration (Windows always has it).
        if keys.get(key) == []:
            del keys[key]
        return keys

    def bench_file(self, name, **fields):
        path = os.path.join(self.work, name)
        pathlib.Path(path).write_text(json.dumps({"devices": [device(**fields)]}))
        return path

    def win(self, *paths):
        return windows_paths(*paths, prefix=self.prefix.path)

    def test_bench_and_journal_travel_in_the_registration(self):
        bench_b = self.bench_file("bench-b.json", serial=77, label="Bench B")
        bench_a = self.bench_file("bench-a.json", serial=55, label="Bench A")
        runs = os.path.join(self.work, "runs")
        os.makedirs(runs)
        journal = os.path.join(runs, "journal.jsonl")
        other_journal = os.path.join(self.work, "other.jsonl")
        win_b, win_a, win_journal, win_other, win_sim = self.win(bench_b, bench_a, journal, other_journal, sim_exe())
        before = self.export(MACHINE)

        # Registered for every user, the journal's folder as other users meet
        # it: Wine gives a folder others may not write (mode 755) no write
        # for Everyone.
        os.chmod(runs, 0o755)
        status, said = self.sim("/RegServer", "/bench", win_b, "/journal", win_journal)
        self.assertEqual(said, "k27sim: registered %s for every user of this PC (bench: %s, journal: %s); note: not "
                         "every user of this PC may create files in %s: the server runs as whoever runs the tool, and "
                         "the runs of those who may not write there leave no journal\n"
                         % (win_sim, win_b, win_journal, win_journal.rsplit("\\", 1)[0]))
        # The tool's environment holds nothing of the simulator's.
        r = run_tool(register=False, journal=journal, prefix=self.prefix.path, keys=[(PROMPT, "77\r"), SPACE])
        self.assertEqual(r.status, 0, r)
        self.assertIn("Found : K27#0077 (Bench B) BootV1.3 CodeV2.1.7", r.transcript)
        self.assertEqual(lines(r.transcript)[-2:], ["PROGRAMMING SUCCESSFUL", PRESS_SPACE])
        starts = [e for e in r.journal if e["op"] == "Start"]
        self.assertEqual([s["bench"] for s in starts], [win_b])

        # Another bench and journal in the tool's environment change nothing.
        r = run_tool(register=False, journal=journal, prefix=self.prefix.path, keys=[(PROMPT, "77\r"), SPACE],
                     env={"K27SIM_BENCH": win_a, "K27SIM_JOURNAL": win_other})
        self.assertEqual(r.status, 0, r)
        self.assertIn("Found : K27#0077 (Bench B)", r.transcript)
        self.assertNotIn("Bench A", r.transcript)
        self.assertEqual([e["bench"] for e in r.journal if e["op"] == "Start"], [win_b, win_b])
        self.assertFalse(os.path.exists(other_journal))

        # One every user may write: any of them could plant a journal there.
        os.chmod(runs, 0o777)
        status, said = self.sim("/RegServer", "/bench", win_b, "/journal", win_journal)
        self.assertIn(" journal: %s); note: every user of this PC may create files in %s, so any of them can put a "
                      "journal or array files there ahead of a run" % (win_journal, win_journal.rsplit("\\", 1)[0]),
                      said)

        status, said = self.sim("/UnregServer")
        self.assertEqual(said, "k27sim: unregistered the bench simulator for every user of this PC\n")
        self.assertEqual(self.export(MACHINE), before)
        r = run_tool(register=False, journal=False, prefix=self.prefix.path, keys=[SPACE])
        self.assertEqual(r.status, 1, r)
        self.assertEqual(lines(r.transcript)[-2:], [SERVER_ERROR, PRESS_SPACE])

    def test_per_user_registration_writes_the_users_classes_only(self):
        bench = self.bench_file("bench-user.json", serial=88)
        win_bench, win_sim, win_proxy = self.win(bench, sim_exe(), os.path.join(os.path.dirname(sim_exe()),
                                                                                 "k27ps.dll"))
        machine = self.export(MACHINE)
        user = self.export(USER)

        status, said = self.sim("-regserverperuser", "-bench", win_bench)
        self.assertEqual(said, "k27sim: registered %s for this user (bench: %s, journal: none)\n" % (win_sim, win_bench))
        after = self.export(USER)
        self.assertEqual({k: v for k, v in user.items() if after.get(k) != v}, {})  # nothing changed
        added = set(after) - set(user)
        parents = {USER + "\\CLSID", USER + "\\Interface"} - set(user)
        self.assertEqual(added, documented_keys(USER) | parents)

        def escaped(text):
            return text.replace("\\", "\\\\").replace('"', '\\"')
        # The command line is the program alone; the bench is a value beside it.
        server = after[USER + "\\CLSID\\%s\\LocalServer32" % SERVER_CLASS]
        self.assertEqual(server, ['@="%s"' % escaped('"%s"' % win_sim)])
        self.assertIn('"k27sim bench"="%s"' % escaped(win_bench), after[USER + "\\CLSID\\%s" % SERVER_CLASS])
        self.assertEqual(after[USER + "\\CLSID\\%s\\InProcServer32" % PROXY_CLASS],
                         ['@="%s"' % escaped(win_proxy), '"ThreadingModel"="Both"'])
        self.assertEqual(after[USER + "\\Interface\\%s\\NumMethods" % INTERFACES[0]], ['@="16"'])
        self.assertEqual(after[USER + "\\Interface\\%s\\ProxyStubClsid32" % INTERFACES[2]], ['@="%s"' % PROXY_CLASS])
        self.assertEqual(self.export(MACHINE), machine)

        status, said = self.sim("/UnregServerPerUser")
        self.assertEqual(said, "k27sim: unregistered the bench simulator for this user\n")
        self.assertEqual(self.export(USER), user)
        self.assertEqual(self.export(MACHINE), machine)

    def test_a_foreign_device_server_is_never_replaced_unless_forced(self):
        env = self.prefix.env()
        vendor_key = MACHINE + "\\CLSID\\" + SERVER_CLASS
        original = self.export(MACHINE)

        def reg(*args):
            checked(["wine", "reg"] + list(args), env=env, timeout=60)
        # The vendor's installer registered its device server.
        reg("add", vendor_key, "/ve", "/d", "Device server", "/f")
        reg("add", vendor_key + "\\LocalServer32", "/ve", "/d", r'"C:\Program Files\Vendor\devserver.exe"', "/f")
        # The program COM starts on Windows (Wine's COM ignores it).
        reg("add", vendor_key + "\\LocalServer32", "/v", "ServerExecutable", "/d",
            r"C:\Program Files\Vendor\devserver.exe", "/f")
        try:
            vendor = self.export(MACHINE)
            user = self.export(USER)
            for switch in ("/RegServer", "/RegServerPerUser"):
                status, said = self.sim(switch, check=False)
                self.assertEqual(status, 1, said)
                self.assertRegex(said, r'^k27sim: not registered: the device server\'s class %s is registered to '
                                 r'"C:\\Program Files\\Vendor\\devserver.exe" in HKLM\\Software\\Classes'
                                 % re.escape(SERVER_CLASS))
                self.assertEqual(self.export(MACHINE), vendor)
                self.assertEqual(self.export(USER), user)

            status, said = self.sim("/UnregServer")
            self.assertIn("k27sim: no bench simulator was registered for every user of this PC; left alone: "
                          "the device server's class", said)
            self.assertEqual(self.export(MACHINE), vendor)

            bench = self.bench_file("bench-forced.json", serial=66)
            status, said = self.sim("/RegServer", "/bench", self.win(bench)[0], "/force")
            self.assertIn("; forced over the device server's class", said)
            # Put aside while forced: COM would start the vendor's program.
            server = self.export(MACHINE)[vendor_key + "\\LocalServer32"]
            self.assertFalse([v for v in server if v.startswith('"ServerExecutable"=')], server)
            self.assertIn(r'"k27sim displaced ServerExecutable"="C:\\Program Files\\Vendor\\devserver.exe"', server)
            r = run_tool(register=False, journal=False, prefix=self.prefix.path, keys=[(PROMPT, "66\r"), SPACE])
            self.assertEqual(r.status, 0, r)
            self.assertIn("Found : K27#0066", r.transcript)

            status, said = self.sim("/UnregServer")
            self.assertEqual(said, "k27sim: unregistered the bench simulator for every user of this PC\n")
            self.assertEqual(self.export(MACHINE), vendor)  # the vendor's registration is back
        finally:
            reg("delete", vendor_key, "/f")
        self.assertEqual(self.export(MACHINE), original)

    def test_a_forgotten_per_user_simulator_never_stands_in_for_a_device_server(self):
        # On Windows a user's own registration of a class outranks the
        # machine's, and COM starts the user's simulator. Wine's COM reads
        # the machine's classes only, so here the simulator is registered for
        # the machine too (in the 64-bit view, where Wine starts it from),
        # while the keys it decides on are as on such a PC: its own per-user
        # registration, and the vendor's device server registered for the
        # whole machine later, for 32-bit programs (a 64-bit client
        # activates a local server registered in either view).
        bench = self.bench_file("bench-shadow.json", serial=91)
        runs = os.path.join(self.work, "shadow")
        os.makedirs(runs)
        journal = os.path.join(runs, "journal.jsonl")
        win_bench, win_journal = self.win(bench, journal)
        machine, user = self.export(MACHINE), self.export(USER)
        vendor_key = MACHINE + "\\CLSID\\" + SERVER_CLASS + "\\LocalServer32"
        vendor = r'"C:\Program Files (x86)\Vendor\devserver.exe"'
        files = ["/bench", win_bench, "/journal", win_journal]

        def reg(*args):
            checked(["wine", "reg"] + list(args), env=self.prefix.env(), timeout=60)

        def run(keys):
            if os.path.exists(journal):
                os.remove(journal)
            return run_tool(register=False, journal=journal, prefix=self.prefix.path, keys=keys)

        self.sim("/RegServerPerUser", *files)
        self.sim("/RegServer", *files)
        reg("add", vendor_key, "/ve", "/d", vendor, "/reg:32", "/f")
        try:
            r = run([SPACE])
            self.assertEqual(r.status, 1, r)
            self.assertEqual(lines(r.transcript)[-2:], [SERVER_ERROR, PRESS_SPACE])
            reason = ("this user's registration of the bench simulator in HKCU\\Software\\Classes outranks the "
                      "machine's: the device server's class %s is registered to %s in HKLM\\Software\\Classes "
                      "(32-bit view); so it refuses every creation, since a run against it would pass for one "
                      "against the device server. Remove it (k27sim /UnregServerPerUser), or register it with "
                      "/RegServerPerUser /force on a PC that never programs devices" % (SERVER_CLASS, vendor))
            self.assertEqual(entry(r, "Start")["refusing"], reason)
            created = entry(r, "CreateInstance")
            self.assertEqual((created["hresult"], created["note"]), ("0x80040111", reason))
            self.assertEqual([e["op"] for e in r.journal], ["Start", "CreateInstance", "Exit"])
            self.assertEqual(entry(r, "Exit")["reason"], "refused")

            # Forced over that program, on a PC that never programs devices,
            # the user's registration records as much, and serves.
            status, said = self.sim("/RegServerPerUser", *files, "/force")
            self.assertIn("; forced over the device server's class %s is registered to %s in "
                          "HKLM\\Software\\Classes (32-bit view): until this user's registration is removed, this "
                          "user's runs reach the simulator instead\n" % (SERVER_CLASS, vendor), said)
            self.assertIn('"k27sim forced over"="%s"' % vendor.replace("\\", "\\\\").replace('"', '\\"'),
                          self.export(USER)[USER + "\\CLSID\\" + SERVER_CLASS])
            r = run([(PROMPT, "91\r"), SPACE])
            self.assertEqual(r.status, 0, r)
            self.assertEqual(lines(r.transcript)[-2:], ["PROGRAMMING SUCCESSFUL", PRESS_SPACE])
            self.assertIn("registered for this user with /force over the device server's class",
                          entry(r, "Start")["forced"])
        finally:
            reg("delete", vendor_key, "/reg:32", "/f")
            reg("delete", MACHINE + "\\CLSID\\" + SERVER_CLASS, "/reg:32", "/f")
            self.sim("/UnregServerPerUser")
            self.sim("/UnregServer")
        self.assertEqual(self.export(USER), user)
        self.assertEqual(self.export(MACHINE), machine)

    def test_switches_print_where_they_were_run_from(self):
        dump = subprocess.run(["x86_64-w64-mingw32-objdump", "-p", sim_exe()], stdout=subprocess.PIPE, check=True)
        self.assertRegex(dump.stdout.decode(), r"Subsystem\s+00000002\s+\(Windows GUI\)")
        kit = self.prefix.drive_c("kit")
        os.makedirs(kit, exist_ok=True)
        shutil.copy(sim_exe(), kit)
        pathlib.Path(os.path.join(kit, "good.json")).write_text(json.dumps({"devices": [device()]}))
        pathlib.Path(os.path.join(kit, "bad.json")).write_text(json.dumps({"devices": [{"serail": 1}]}))
        rows = [
            (r"C:\kit\k27sim.exe /RegServerPerUser", 1,
             "k27sim: not registered: C:\\kit\\k27ps.dll is missing: k27ps.dll must sit beside k27sim.exe\n"),
            ("copy k27ps.dll", None, None),
            # Registration refuses what would only fail later, and says why.
            (r"C:\kit\k27sim.exe /RegServerPerUser /bench C:\kit\bad.json", 1,
             "k27sim: not registered: C:\\kit\\bad.json: devices[0].serail: unknown setting\n"),
            (r"C:\kit\k27sim.exe /RegServerPerUser /journal C:\nowhere\journal.jsonl", 1,
             "k27sim: not registered: the journal's folder C:\\nowhere does not exist\n"),
            (r"C:\kit\k27sim.exe /RegServerPerUser /journal C:\kit", 1,
             "k27sim: not registered: C:\\kit is a folder, not a journal file\n"),
            # A journal the server could not write, with the system's reason:
            # no file can be made in Linux's /sys, even by root (as whom the
            # tests run, so that no folder's permissions stop it).
            (r"C:\kit\k27sim.exe /RegServerPerUser /journal Z:\sys\k27.jsonl", 1,
             "k27sim: not registered: the journal Z:\\sys\\k27.jsonl cannot be written: Access denied (5)\n"),
            (r"C:\kit\k27sim.exe /RegServerPerUser /journal C:\kit\run?.jsonl", 1,
             "k27sim: not registered: the journal C:\\kit\\run?.jsonl cannot be written: Invalid name (123)\n"),
            (r"C:\kit\k27sim.exe /UnregServer /force", 2, None),
            # Relative paths are made absolute: the server starts elsewhere.
            (r"cd /d C:\kit && k27sim.exe -RegServerPerUser -bench good.json -journal j.jsonl", 0,
             "k27sim: registered C:\\kit\\k27sim.exe for this user (bench: C:\\kit\\good.json, "
             "journal: C:\\kit\\j.jsonl)\n"),
            (r"C:\kit\k27sim.exe /UnregServerPerUser", 0, "k27sim: unregistered the bench simulator for this user\n"),
        ]
        user = self.export(USER)
        for command, expected_status, expected in rows:
            if command == "copy k27ps.dll":
                shutil.copy(os.path.join(os.path.dirname(sim_exe()), "k27ps.dll"), kit)
                continue
            with self.subTest(command=command):
                out = os.path.join(kit, "out.txt")
                done = run_wine("cmd", "/c", command + r" > C:\kit\out.txt 2>&1", prefix=self.prefix.path, timeout=60)
                self.assertEqual(done.status, expected_status, done)
                text = pathlib.Path(out).read_bytes().decode("utf-8")
                self.assertNotIn("\n", text.replace("\r\n", ""))  # Windows line ends throughout
                text = text.replace("\r\n", "\n")
                if expected is None:
                    self.assertIn("usage: k27sim", text)
                else:
                    self.assertEqual(text, expected)
        self.assertEqual(self.export(USER), user)
        # The journal opened to see that it can be written is not left behind,
        # and one that was there is left as it was.
        self.assertFalse(os.path.exists(os.path.join(kit, "j.jsonl")))
        kept = os.path.join(kit, "kept.jsonl")
        pathlib.Path(kept).write_bytes(b'{"op":"Start"}\n')
        self.sim("/RegServerPerUser", "/journal", r"C:\kit\kept.jsonl")
        self.sim("/UnregServerPerUser")
        self.assertEqual(pathlib.Path(kept).read_bytes(), b'{"op":"Start"}\n')
        self.assertEqual(self.export(USER), user)

    def test_the_windows_recipe_runs_as_written(self):
        recipe = windows_recipe()
        self.assertIn("k27prog.exe", recipe)
        # The kit as docs/bench.md lays it out in C:\K27.
        top = self.prefix.drive_c("K27")
        os.makedirs(os.path.join(top, "bench-kit"), exist_ok=True)
        shutil.copy(tool_exe(), top)
        for name in ("k27kit.exe", "k27sim.exe", "k27ps.dll"):
            shutil.copy(os.path.join(os.path.dirname(sim_exe()), name), os.path.join(top, "bench-kit"))
        with open(os.path.join(top, "bench.json"), "w") as f:
            json.dump({"devices": [device(label="Rehearsal bench")]}, f)
        machine = self.export(MACHINE)
        user = self.export(USER)

        def run(lines_, answers):
            with open(os.path.join(top, "recipe.cmd"), "w", newline="\r\n") as f:
                f.write("\n".join(lines_) + "\n")
            return run_in_terminal(["wine", "cmd", "/c", r"C:\K27\recipe.cmd"], answers, env=self.prefix.env())

        # As written: per user. Wine's COM does not look at per-user classes,
        # so the tool finds no server here, where Windows would find it.
        screen, status = run(recipe, [SPACE])
        self.assertEqual(status, 0, screen)
        self.assertIn(r"k27sim: registered C:\K27\bench-kit\k27sim.exe for this user "
                      r"(bench: C:\K27\bench.json, journal: C:\K27\runs\journal.jsonl)", screen)
        self.assertIn(BANNER, screen)
        self.assertIn("k27sim: unregistered the bench simulator for this user", screen)
        self.assertEqual(self.export(USER), user)
        self.assertEqual(self.export(MACHINE), machine)

        # The same lines with administrator rights: for every user.
        machine_wide = [line.replace(" --per-user", "") for line in recipe]
        self.assertNotEqual(machine_wide, recipe)
        screen, status = run(machine_wide, [(PROMPT, "42\r"), SPACE])
        self.assertEqual(status, 0, screen)
        self.assertIn(r"k27sim: registered C:\K27\bench-kit\k27sim.exe for every user of this PC "
                      r"(bench: C:\K27\bench.json, journal: C:\K27\runs\journal.jsonl)", screen)
        self.assertIn("Found : K27#0042 (Rehearsal bench) BootV1.3 CodeV2.1.7", screen)
        self.assertIn("PROGRAMMING SUCCESSFUL", screen)
        self.assertRegex(screen, r'\n\{"args":\{"address":524288,"code":\{"count":142180,[^\n]*"op":"Program"')
        self.assertIn("k27sim: unregistered the bench simulator for every user of this PC", screen)
        self.assertTrue(os.path.exists(os.path.join(top, "runs", "Program-1.bin")))
        self.assertEqual(self.export(MACHINE), machine)


if __name__ == "__main__":
    unittest.main()

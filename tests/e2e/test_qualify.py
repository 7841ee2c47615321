"""k27kit qualify, end to end: the built k27prog.exe played against every
scenario of the catalogue through the real bench simulator and COM, as a CI
server runs it (no console); its report and JUnit file; its options; the
registration left as it was found, after a pass, a failure or Ctrl+C; and a
PC with a device server registered refused without a change."""

import json
import os
import pathlib
import re
import shutil
import signal
import tempfile
import unittest

from k27e2e import (INTERFACES, PROXY_CLASS, REPO, SERVER_CLASS, FreshPrefix, catalogue_scenarios, junit_cases,
                    kit_exe, qualify, reg_export, run_in_terminal, run_wine, tool_exe, windows_paths, wine_env)
from k27model import outcomes
# The messages the README's table holds that no run can reach, as the model
# says.
NOT_REACHABLE = [message for message, _, reachable in outcomes() if not reachable]
SUMMARY = re.compile(r"^(\d+) scenarios: (\d+) passed, (\d+) failed, (\d+) not applicable, in ([\d.]+) s$", re.M)


def registration(prefix=None):
    """Every key a registration of the simulator touches, for this user and
    for the machine, as reg export gives them."""
    keys = {}
    for root in ("HKLM", "HKCU"):
        for key in ["CLSID\\" + SERVER_CLASS, "CLSID\\" + PROXY_CLASS] + ["Interface\\" + i for i in INTERFACES]:
            keys.update(reg_export(root + "\\Software\\Classes\\" + key, prefix=prefix))
    keys["HKCU classes"] = sorted(reg_export("HKCU\\Software\\Classes", prefix=prefix))
    return keys


def readme_table():
    """The messages of the README's exit-status table, in order."""
    text = pathlib.Path(os.path.join(REPO, "README.md")).read_text()
    return re.findall(r'^\| \d+ \| "([^"]+)" \|', text, re.M)


def user_catalogue(folder, scenarios):
    os.makedirs(folder, exist_ok=True)
    pathlib.Path(os.path.join(folder, "mine.json")).write_text(json.dumps({"scenarios": scenarios}))
    return folder


def no_devices_scenario(name, release="{release}"):
    return {"name": name, "outcome": "NO DEVICES FOUND", "status": 1,
            "bench": {"server_version": {"major": 1, "minor": 5}, "devices": []},
            "transcript": ["k27prog - K27 firmware programmer", "Ready to program K27 firmware release " + release,
                           "NO DEVICES FOUND", "Press space to exit"],
            "calls": ["CreateInstance", "GetVersion", {"op": "LoadProfile", "args": {"profile": "{profile_array}"}},
                      "DetectDevices"]}


class QualifyTest(unittest.TestCase):
    def setUp(self):
        self.work = tempfile.mkdtemp(prefix="k27qualify-")

    def tearDown(self):
        shutil.rmtree(self.work, ignore_errors=True)

    def test_the_built_tool_qualifies(self):
        # A person's own rehearsal registration for this user, naming the
        # same simulator and a bench of theirs, stays in place: the servers
        # of a run above medium integrity (every run under Wine, an elevated
        # one on Windows) read the machine's registration alone, so the
        # kit's proof and scenarios play the kit's benches, and the user's
        # registration is left as it was.
        theirs = os.path.join(self.work, "theirs.json")
        pathlib.Path(theirs).write_text(json.dumps({"server_version": {"major": 1, "minor": 4}, "devices": []}))
        theirs = windows_paths(theirs)[0]
        registered = run_wine(kit_exe(), "register", "--per-user", "--bench", theirs)
        self.addCleanup(run_wine, kit_exe(), "unregister", "--per-user")
        self.assertEqual(registered.status, 0, registered)
        before = registration()
        self.assertIn('"k27sim bench"="%s"' % theirs.replace("\\", "\\\\"),
                      before["HKEY_CURRENT_USER\\Software\\Classes\\CLSID\\" + SERVER_CLASS])
        report = os.path.join(self.work, "report.xml")
        status, text, seconds = qualify(tool_exe(), "--junit", report)
        print("qualification of the built tool: %.0f s" % seconds)
        self.assertEqual(status, 0, text)
        self.assertEqual(registration(), before, "the registration was not put back")
        summary = SUMMARY.search(text)
        self.assertTrue(summary, text)
        total, passed, failed, not_applicable = (int(summary.group(i)) for i in range(1, 5))
        print(summary.group(0))
        self.assertEqual((total, failed, not_applicable, passed), (len(catalogue_scenarios()), 0, 0, total))
        self.assertLess(float(summary.group(5)), 180, "the qualification took over 3 minutes")
        self.assertIn("\nQUALIFIED: " + "Z:" + tool_exe().replace("/", "\\") + " behaves as documented in every "
                      "scenario\n", text)
        self.assertIn("is registered for every user (HKLM\\Software\\Classes), proved by a creation", text)

        # Every message of the README's table: reached, or named as one no
        # run can reach, with why.
        table = readme_table()
        reached = re.search(r"^outcomes: (\d+) of the (\d+) a run can reach with this image were reached$", text, re.M)
        self.assertTrue(reached, text)
        self.assertEqual(reached.group(1), reached.group(2))
        self.assertEqual(int(reached.group(2)), len(table) - len(NOT_REACHABLE))
        for message in table:
            with self.subTest(message):
                kind = "not reachable    " if message in NOT_REACHABLE else "reached          "
                self.assertRegex(text, r"\n  %s%s[ :]" % (kind, re.escape(message)))

        cases, suite, properties = junit_cases(report)
        self.assertEqual((suite["tests"], suite["failures"], suite["skipped"]), (str(total), "0", "0"))
        self.assertEqual(len(cases), total)
        self.assertEqual(properties["release"], "1.1.5(1)")
        self.assertTrue(properties["program"].endswith("\\bin\\k27prog.exe"), properties)
        self.assertTrue(all(c[0].startswith("catalogue.") for c in cases.values()))

    def test_options(self):
        status, text, _ = qualify(tool_exe(), "--list")
        self.assertEqual(status, 0, text)
        listed = re.findall(r"^(\w[\w.-]*)/([a-z0-9-]+): ([A-Za-z][^(\n]*?)(?: \(not applicable: .*\))?(?: - .*)?$", text,
                            re.M)
        count = int(re.search(r"^(\d+) scenarios$", text, re.M).group(1))
        self.assertEqual(len(listed), count, text)
        names = [name for _, name, _ in listed]

        # Two chosen scenarios, kept.
        kept = os.path.join(self.work, "kept")
        first = next(n for _, n, outcome in listed if outcome == "PROGRAMMING SUCCESSFUL")
        second = next(n for _, n, outcome in listed if outcome == "CODE RESOURCE NOT FOUND")
        status, text, _ = qualify(tool_exe(), "--only", first, "--only", second, "--keep", kept)
        self.assertEqual(status, 0, text)
        self.assertIn("2 scenarios: 2 passed, 0 failed, 0 not applicable", text)
        self.assertIn("behaves as documented in every scenario played (only some were chosen)", text)
        self.assertEqual(re.findall(r"^passed +(\S+)$", text, re.M), [n for n in names if n in (first, second)])
        self.assertTrue({"bench.json", "transcript.txt", "journal.jsonl", "Program-1.bin", "LoadProfile-1.bin"}
                        <= set(os.listdir(os.path.join(kept, first))))
        with open(os.path.join(kept, first, "transcript.txt"), "rb") as f:
            self.assertTrue(f.read().endswith(b"PROGRAMMING SUCCESSFUL\r\nPress space to exit\r\n"))
        self.assertFalse(any(n.endswith(".exe") for n in os.listdir(os.path.join(kept, second))),
                         "the damaged copy of the program was kept")

        status, text, _ = qualify(tool_exe(), "--only", "no-such-scenario")
        self.assertEqual(status, 2, text)
        self.assertIn("k27kit: no scenario is called no-such-scenario", text)

    def test_a_users_catalogue_adds_scenarios_and_a_failure_is_named(self):
        before = registration()
        mine = user_catalogue(os.path.join(self.work, "mine"), [
            no_devices_scenario("my-empty-bench"),
            no_devices_scenario("my-wrong-expectation", release="1.1.6(1)"),
        ])
        report = os.path.join(self.work, "report.xml")
        status, text, _ = qualify(tool_exe(), "--catalogue", mine, "--only", "my-empty-bench", "--only",
                                  "my-wrong-expectation", "--junit", report)
        self.assertEqual(status, 1, text)
        self.assertIn("\npassed          my-empty-bench\n", text)
        self.assertIn('\nFAILED          my-wrong-expectation: transcript line 2: expected "Ready to program K27 '
                      'firmware release 1.1.6(1)", got "Ready to program K27 firmware release 1.1.5(1)"\n', text)
        self.assertIn("NOT QUALIFIED: ", text)
        self.assertEqual(registration(), before, "a failure left the registration changed")
        cases, suite, _ = junit_cases(report)
        self.assertEqual(suite["failures"], "1")
        self.assertEqual(cases["my-wrong-expectation"][0], "catalogue.mine")

        # A catalogue that cannot be read is refused before anything is
        # registered, naming the file and the scenario.
        broken = no_devices_scenario("my-broken")
        broken["outcome"] = "NO DEVICE FOUND"
        mine = user_catalogue(os.path.join(self.work, "broken"), [broken])
        status, text, _ = qualify(tool_exe(), "--catalogue", mine)
        self.assertEqual(status, 2, text)
        self.assertRegex(text, r'k27kit: the catalogue cannot be played: .*mine: my-broken: "NO DEVICE FOUND" is not '
                               r"a message k27prog ends with")
        self.assertNotIn("registered", text)

    def test_ctrl_c_puts_the_registration_back(self):
        before = registration()
        # Wine turns SIGINT into the console's Ctrl+C event: sent once three
        # scenarios have passed, to the kit's own process. Not typed on the
        # terminal: the kernel would send it to the whole process group, and
        # a child the kit is starting that very moment (Wine forks it before
        # it becomes the program) can then hang in Wine's signal handler and
        # its parent, the kit, with it. On Windows Ctrl+C reaches only the
        # processes of the console, and the kit's runs have none.
        passed = "passed          "
        ctrl_c = lambda proc: os.kill(proc.pid, signal.SIGINT)  # noqa: E731
        shown, status = run_in_terminal(["wine", kit_exe(), "qualify", tool_exe()],
                                        [(passed, ""), (passed, ""), (passed, ctrl_c)], timeout=120, env=wine_env())
        self.assertGreaterEqual(shown.count(passed), 3, shown)
        self.assertEqual(status, 1, shown)
        self.assertIn("k27kit: the registration is as it was before the qualification", shown)
        self.assertIn("k27kit: interrupted: the qualification is not complete", shown)
        self.assertNotIn("QUALIFIED", shown)
        self.assertEqual(registration(), before)


class ConsoleTest(unittest.TestCase):
    def test_started_alone_it_keeps_its_console_open(self):
        # As from Explorer: the console is the program's own (under Wine, a
        # terminal with no other program on its console), so the usage stays
        # until a key is pressed.
        screen, status = run_in_terminal(["wine", kit_exe()], [("Press a key to close.", "x")], timeout=60,
                                         env=wine_env())
        self.assertEqual(status, 2, screen)
        self.assertIn("usage: k27kit qualify PROGRAM", screen)
        # Run from a prompt or by a CI server, nothing waits.
        status, out, err = run_wine("cmd", "/c", kit_exe())
        self.assertEqual(status, 2, out + err)
        self.assertNotIn("Press a key", out + err)


class ForeignServerTest(unittest.TestCase):
    """A PC with the device server's class or interfaces registered to
    another program is refused, and nothing is changed."""

    def test_refused_without_a_change(self):
        vendor = [
            ("HKLM\\Software\\Classes\\CLSID\\%s\\LocalServer32" % SERVER_CLASS, "C:\\Vendor\\devserver.exe"),
            ("HKLM\\Software\\Classes\\Interface\\%s\\ProxyStubClsid32" % INTERFACES[0],
             "{11111111-2222-3333-4444-555555555555}"),
        ]
        for key, value in vendor:
            with self.subTest(key), FreshPrefix() as prefix:
                run_wine("reg", "add", key, "/ve", "/d", value, "/f", prefix=prefix.path)
                before = registration(prefix.path)
                status, text, _ = qualify(tool_exe(), prefix=prefix.path)
                self.assertEqual(status, 1, text)
                self.assertIn("k27kit: not qualifying on this PC: ", text)
                self.assertIn(value, text)
                self.assertIn("Nothing was changed.", text)
                self.assertNotIn("passed", text)
                self.assertEqual(registration(prefix.path), before)


if __name__ == "__main__":
    unittest.main()

"""Bench files as Windows programs save them: the built-in bench written out
as Windows PowerShell 5.1's ">" writes it (UTF-16 LE with a byte-order mark,
CRLF) plays to "PROGRAMMING SUCCESSFUL"; UTF-8 with and without a mark and
UTF-16 BE are read too; any other encoding is refused, by k27kit's check and
at registration alike, with a message that names it."""

import json
import os
import shutil
import tempfile
import unittest

from k27e2e import (PRESS_SPACE, PROMPT, device, kit_exe, lines, register_simulator, run_tool, run_wine, simulator,
                    windows_paths)


def kit(*args):
    """k27kit.exe's exit status and everything it printed."""
    ran = run_wine(kit_exe(), *args)
    return ran.status, ran.out + ran.err


def powershell_51_redirect(text):
    """What `k27kit.exe default-bench > my.json` leaves in Windows
    PowerShell 5.1: the program's lines, each ended with CRLF, in UTF-16 LE
    after a byte-order mark."""
    return b"\xff\xfe" + "".join(line + "\r\n" for line in text.splitlines()).encode("utf-16-le")


class BenchEncodingTest(unittest.TestCase):
    def setUp(self):
        self.work = tempfile.mkdtemp(prefix="k27e2e-encoding-")
        self.addCleanup(shutil.rmtree, self.work, True)

    def write(self, name, data):
        path = os.path.join(self.work, name)
        with open(path, "wb") as f:
            f.write(data)
        return path, windows_paths(path)[0]

    def test_the_built_in_bench_saved_by_windows_powershell_plays(self):
        status, printed = kit("default-bench")
        path, win = self.write("my.json", powershell_51_redirect(printed))
        with open(path, "rb") as f:
            self.assertEqual(f.read(4), b"\xff\xfe{\x00")
        status, said = kit("check", win)
        self.assertEqual(said, "%s: a bench of 5 device(s), server version 1.7\n" % win)
        try:
            r = run_tool(bench=path, keys=[(PROMPT, "42\r"), (PRESS_SPACE, " ")])
            self.assertEqual(r.status, 0, r)
            self.assertIn("Found : K27#0042 (Simulated bench) BootV1.3 CodeV2.1.7", r.transcript)
            self.assertEqual(lines(r.transcript)[-2:], ["PROGRAMMING SUCCESSFUL", PRESS_SPACE])
            self.assertEqual([e["bench"] for e in r.journal if e["op"] == "Start"], [win])
        finally:
            register_simulator()

    def test_every_encoding_is_read_or_refused_by_name(self):
        text = json.dumps({"devices": [device(label="Établi 文")]}, ensure_ascii=False, indent=1)
        crlf = text.replace("\n", "\r\n") + "\r\n"
        ok = ": a bench of 1 device(s), server version 1.6"
        remedy = "; save it as UTF-8, or as UTF-16 with a byte-order mark"
        rows = [
            ("utf8.json", text.encode("utf-8"), ok),
            ("utf8-bom.json", b"\xef\xbb\xbf" + crlf.encode("utf-8"), ok),
            ("utf16be.json", b"\xfe\xff" + crlf.encode("utf-16-be"), ok),
            ("utf32.json", b"\xff\xfe\x00\x00" + text.encode("utf-32-le"),
             ": the file is UTF-32 LE (by its byte-order mark)" + remedy),
            ("utf16-no-bom.json", text.encode("utf-16-le"),
             ": the file is UTF-16 LE without a byte-order mark" + remedy),
            ("ansi.json", text.replace("文", "").encode("cp1252"),
             ": the file is not UTF-8: the byte 0xC9 at offset %d is not UTF-8 there (an ANSI code page such as "
             "Windows-1252 writes such bytes)%s" % (text.encode("utf-8").index(b"\xc3\x89"), remedy)),
        ]
        for name, data, verdict in rows:
            with self.subTest(name):
                path, win = self.write(name, data)
                status, said = kit("check", win)
                self.assertEqual(said, win + verdict + "\n")
                self.assertEqual(status, 0 if verdict == ok else 1)
                if verdict != ok:
                    # Refused at registration with the same words.
                    status, said = simulator("/RegServerPerUser", "/bench", win, check=False)
                    self.assertEqual((status, said), (1, "k27sim: not registered: " + win + verdict + "\n"))


if __name__ == "__main__":
    unittest.main()

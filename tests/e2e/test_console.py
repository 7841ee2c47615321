"""The identity line end to end on the console, with names the server makes
as long and as foreign as it likes: the real k27prog.exe under Wine against
the bench simulator, on the console of a pseudo-terminal (the names' own
characters). Redirected, such names are written as UTF-8: the scenario
identity-names-utf8 of the catalogue, and for names of 70,000 characters the
Windows edge's unit tests.

What Wine's console in a pseudo-terminal does with the wide line: it wraps
at the console's width (the terminal's, TERMINAL_COLUMNS in these runs),
writing each wrapped row as a line of its own; where one write of the line
ends and the next begins it goes back to the row's start (a carriage return)
and writes the whole row again; it erases a row's trailing blanks rather than
writing them; and it sends the characters as UTF-8. A character beyond U+FFFF
reaches the terminal as two U+FFFD (Wine converts each half of the pair on
its own), so the console runs here keep to the 16-bit range."""

import unittest

from k27e2e import PRESS_SPACE, PROMPT, TERMINAL_COLUMNS, device, lines, run_tool

CONSOLE_WIDTH = TERMINAL_COLUMNS
SUCCESS = "PROGRAMMING SUCCESSFUL"


def letters(count):
    """A name of `count` characters that shows where it was cut."""
    return "".join(chr(ord("a") + i % 26) if i % 10 else str(i // 10 % 10) for i in range(count))


def bench(identities, access_levels):
    return {
        "server_version": {"major": 1, "minor": 7},
        "devices": [device(identities=identities, access_levels=access_levels)],
        "status": {"AcquireGroup": 0, "EraseStart": 0, "Program": 0, "Reset": 0},
    }


def console_line(shown, start):
    """The console line whose first row starts with `start`, its wrapped
    rows joined again: every row but its last fills the console's width."""
    first = next(i for i, row in enumerate(shown) if row.startswith(start))
    end = first
    while len(shown[end]) == CONSOLE_WIDTH:
        end += 1
    return "".join(shown[first:end + 1])


class ConsoleTest(unittest.TestCase):
    def test_long_and_foreign_names_on_the_console(self):
        name = letters(2000)
        level = "Ing\u00e9nieur \u20ac \u03a9 \u65e5\u672c"
        # Past the 8,192 UTF-16 units the tool writes to a console at a time.
        longer = "".join(reversed(letters(10000)))
        identities = [
            {"kind": 1, "number": 12, "level": 0, "name": name},
            {"kind": 2, "number": 5, "level": 2, "name": "\u00c9quipe de nuit"},
            {"kind": 2, "number": 6, "level": 2, "name": longer},
        ]
        levels = {"0": level, "2": "Read only"}
        r = run_tool(bench=bench(identities, levels), keys=[(PROMPT, "42\r"), (PRESS_SPACE, " ")], timeout=60)
        self.assertEqual(r.status, 0, r)
        shown = lines(r.transcript)
        # 2,016 characters: several rows of the console.
        self.assertEqual(console_line(shown, "Access as " + name[:10]), "Access as " + name + " : " + level)
        self.assertIn("Access as \u00c9quipe de nuit : Read only", shown)
        self.assertEqual(console_line(shown, "Access as " + longer[:10]), "Access as " + longer + " : Read only")
        self.assertEqual(shown[-2:], [SUCCESS, PRESS_SPACE], r)
        # Nothing lost or replaced anywhere on the console.
        self.assertNotIn("\ufffd", r.transcript)
        self.assertNotIn("?", r.transcript)


if __name__ == "__main__":
    unittest.main()

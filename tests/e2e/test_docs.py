"""README.md's exit status table, from which the release kit's README.txt
is made, lists exactly the messages the tool can end with, each with the
status the tool ends with; the model's table of outcomes (model/, kept
apart from the tool's sources, used by the qualification and the fuzzers)
is that table, in its order; and README.md's account of a forced kill
names every console input mode the tool turns off for the committed span."""

import glob
import os
import pathlib
import re
import unittest

from k27e2e import REPO
import k27model  # after k27e2e, which puts model/ on the path


def tool_outcomes():
    """(message, status) of every end the tool's sources can reach."""
    outcomes = set()
    for path in glob.glob(os.path.join(REPO, "src", "**", "*.cc"), recursive=True):
        if path.endswith("_test.cc"):
            continue
        source = pathlib.Path(path).read_text()
        outcomes |= {(m, int(s)) for s, m in re.findall(r'FatalExit\((\d+),\s*"([^"]+)"\)', source)}
        if path.endswith("validate_image.cc"):
            outcomes |= {(m, int(s or 1)) for m, s in re.findall(r'Fail\(\d+,\s*"([^"]+)"(?:,\s*(\d+))?\)', source)}
    return outcomes


class ReadmeTableTest(unittest.TestCase):
    def test_table_is_every_message_of_the_tool(self):
        with open(os.path.join(REPO, "README.md")) as f:
            rows = re.findall(r'^\| (\d+) \| "([^"]+)" \| (.+) \|$', f.read(), re.M)
        table = [(message, int(status)) for status, message, _ in rows]
        self.assertEqual(len(table), len(set(table)), "a message listed twice")
        outcomes = tool_outcomes()
        # The sources' reading of the image checks and the driver's catches.
        self.assertIn(("UNKNOWN CODE HEADER Y VERSION", 109), outcomes)
        self.assertIn(("OUT OF MEMORY", 1), outcomes)
        self.assertEqual(sorted(set(table) - outcomes), [], "listed in README.md but not in the tool")
        self.assertEqual(sorted(outcomes - set(table)), [], "in the tool but not listed in README.md")


    def test_the_model_knows_the_same_table(self):
        with open(os.path.join(REPO, "README.md")) as f:
            table = [(m, int(s)) for s, m in re.findall(r'^\| (\d+) \| "([^"]+)" \|', f.read(), re.M)]
        self.assertEqual([(m, s) for m, s, _ in k27model.outcomes()], table)


class PythonModelTest(unittest.TestCase):
    """model/k27model.py says what the C++ model (model/*.h) says."""

    def test_the_offsets_and_the_checksum_are_the_cpp_models(self):
        with open(os.path.join(REPO, "model", "block_layout.h")) as f:
            cpp = {re.sub(r"(?<!^)(?=[A-Z])", "_", name).upper(): int(value, 0)
                   for name, value in re.findall(r"\bk(\w+) = (0x[0-9A-Fa-f]+|\d+)\b", f.read())}
        python = {name: getattr(k27model, name) for name in dir(k27model)
                  if name.endswith("_AT") or name in ("CODE_BASE", "CODE_HEADER_SIZE", "PROFILE_HEADER_SIZE")}
        self.assertGreater(len(python), 10)
        self.assertEqual(python, {name: cpp.get(name) for name in python})
        with open(os.path.join(REPO, "model", "block_crc.h")) as f:
            check = int(re.search(r"kCrcCheckValue = (0x[0-9A-F]+);", f.read()).group(1), 16)
        self.assertEqual(k27model.block_crc(b"123456789"), check)


# The console input modes, as Windows' documentation of SetConsoleMode names
# and numbers them.
INPUT_MODES = {0x0001: "ENABLE_PROCESSED_INPUT", 0x0002: "ENABLE_LINE_INPUT", 0x0004: "ENABLE_ECHO_INPUT",
               0x0008: "ENABLE_WINDOW_INPUT", 0x0010: "ENABLE_MOUSE_INPUT", 0x0020: "ENABLE_INSERT_MODE",
               0x0040: "ENABLE_QUICK_EDIT_MODE", 0x0200: "ENABLE_VIRTUAL_TERMINAL_INPUT"}


class ForcedKillTest(unittest.TestCase):
    def test_the_readme_names_every_mode_the_span_turns_off(self):
        # What the span clears, read from its source: the constants its
        # cleared set is made of, and their values.
        with open(os.path.join(REPO, "src", "run", "committed_span.cc")) as f:
            cleared = re.search(r"kPausedFlags = ([^;]+);", f.read()).group(1)
        with open(os.path.join(REPO, "src", "run", "committed_span.h")) as f:
            values = {n: int(v, 16) for n, v in re.findall(r"constexpr uint32_t (k\w+) = (0x[0-9A-Fa-f]+);", f.read())}
        bits = 0
        for name in cleared.split("|"):
            bits |= values[name.strip()]
        self.assertTrue(bits)
        turned_off = {INPUT_MODES[bit] for bit in INPUT_MODES if bits & bit}
        self.assertEqual(bits, sum(bit for bit in INPUT_MODES if bits & bit), "a flag Windows does not document")

        readme = pathlib.Path(os.path.join(REPO, "README.md")).read_text()
        account = re.search(r"^- A forced kill .*?(?=^- |^\S)", readme, re.M | re.S)
        self.assertTrue(account, "README.md has no account of a forced kill")
        named = set(re.findall(r"ENABLE_[A-Z_]+", account.group(0)))
        self.assertEqual(named, turned_off)


if __name__ == "__main__":
    unittest.main()

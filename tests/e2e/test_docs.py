"""README.md's exit status table, from which the release kit's README.txt
is made, lists exactly the messages the tool can end with, each with the
status the tool ends with; the model's table of outcomes (model/, kept
apart from the tool's sources, used by the qualification and the fuzzers)
is that table, in its order."""

import glob
import os
import re
import unittest

from k27e2e import REPO


def tool_outcomes():
    """(message, status) of every end the tool's sources can reach."""
    outcomes = set()
    for path in glob.glob(os.path.join(REPO, "src", "**", "*.cc"), recursive=True):
        if path.endswith("_test.cc"):
            continue
        with open(path) as f:
            source = f.read()
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
        with open(os.path.join(REPO, "model", "outcomes.cc")) as f:
            rows = [(m, int(s)) for m, s in re.findall(r'^\s*\{"([A-Z][^"]+)", (\d+)', f.read(), re.M)]
        self.assertEqual(rows, table)


if __name__ == "__main__":
    unittest.main()

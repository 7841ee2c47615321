"""Qualification catches faults: broken variants of the tool
(tests/mutants/mutants.json), each with one behaviour changed as a real
fault could change it, fail their qualification at the scenario named for
them. The build makes them (the k27_mutants target, this test's fixture);
the unbroken tool passes every scenario (test_qualify)."""

import json
import os
import re
import shutil
import tempfile
import unittest

from k27e2e import BUILD, REPO, catalogue_scenarios, junit_cases, qualify

with open(os.path.join(REPO, "tests", "mutants", "mutants.json")) as f:
    MUTANTS = json.load(f)["mutants"]


class MutantsTest(unittest.TestCase):
    def test_each_broken_variant_is_caught_by_its_scenario(self):
        # Each is caught by a scenario the catalogue holds.
        self.assertLessEqual({m["caught_by"] for m in MUTANTS}, set(catalogue_scenarios()))
        work = tempfile.mkdtemp(prefix="k27mutants-")
        self.addCleanup(shutil.rmtree, work, True)
        for mutant in MUTANTS:
            name, caught_by = mutant["name"], mutant["caught_by"]
            with self.subTest(name):
                report = os.path.join(work, name + ".xml")
                status, text, seconds = qualify(os.path.join(BUILD, "mutants", name + ".exe"), "--only", caught_by,
                                                "--junit", report)
                self.assertEqual(status, 1, text)
                self.assertIn("NOT QUALIFIED: ", text)
                failed = re.findall(r"^FAILED +(\S+): (.*)$", text, re.M)  # (scenario, first difference)
                self.assertEqual([scenario for scenario, _ in failed], [caught_by], text)
                cases, suite, _ = junit_cases(report)
                self.assertEqual(suite["failures"], "1")
                self.assertEqual(cases[caught_by][1], failed[0][1])
                # The registration was put back after the failure too.
                self.assertIn("k27kit: the registration is as it was before the qualification", text)


if __name__ == "__main__":
    unittest.main()

"""The tool's version (release/k27release.py): written in CMakeLists.txt,
with git adding only the commit suffix; what a shallow clone and a tree
without git say; the version resource's numbers and flags. On small
repositories made here, without a build."""

import os
import pathlib
import shutil
import subprocess
import sys
import tempfile
import unittest

from k27e2e import REPO

sys.path.insert(0, os.path.join(REPO, "release"))
import k27release  # noqa: E402

GIT_ENV = {"GIT_AUTHOR_NAME": "t", "GIT_AUTHOR_EMAIL": "t@example.com", "GIT_COMMITTER_NAME": "t",
           "GIT_COMMITTER_EMAIL": "t@example.com", "GIT_CONFIG_GLOBAL": os.devnull, "GIT_CONFIG_NOSYSTEM": "1"}


def cmake_text(version):
    return "cmake_minimum_required(VERSION 3.25)\nproject(k27prog VERSION %s LANGUAGES C CXX)\n" % version


class VersionTest(unittest.TestCase):
    def setUp(self):
        self.work = tempfile.mkdtemp(prefix="k27release-version-")
        self.addCleanup(shutil.rmtree, self.work, True)
        self.repo = os.path.join(self.work, "repo")
        os.makedirs(self.repo)
        self.git(self.repo, "init", "-q", "-b", "main")

    def git(self, where, *args):
        done = subprocess.run(["git", "-C", where] + list(args), capture_output=True, text=True, check=True,
                              env=dict(os.environ, **GIT_ENV))
        return done.stdout.strip()

    def write(self, name, text, where=None):
        pathlib.Path(os.path.join(where or self.repo, name)).write_text(text)

    def commit(self, message, **files):
        for name, text in files.items():
            self.write(name.replace("_", "."), text)
        self.git(self.repo, "add", "-A")
        self.git(self.repo, "commit", "-q", "-m", message)
        return self.git(self.repo, "rev-parse", "HEAD")

    def version(self, where=None):
        return k27release.tool_version(where or self.repo)

    def test_the_source_sets_the_version_and_git_adds_the_commits_after_it(self):
        self.commit("before any version", CMakeLists_txt="project(k27prog C CXX)\n")
        self.commit("sets 0.9.0", CMakeLists_txt=cmake_text("0.9.0"))
        self.assertEqual(self.version(), "0.9.0")
        # A tag of another number changes nothing: the source says the version.
        self.git(self.repo, "tag", "v5.0.0")
        self.commit("a change elsewhere", a_txt="a\n")
        second = self.commit("another, and the project line reworded",
                             CMakeLists_txt=cmake_text("0.9.0").replace(" LANGUAGES C CXX", ""))
        self.assertEqual(self.version(), "0.9.0-2-g" + second[:12])
        self.assertEqual(k27release.commits_since_set(self.repo, "0.9.0"), 2)

        # Uncommitted changes to tracked files, and a version being set by them.
        self.write("a.txt", "changed\n")
        self.assertEqual(self.version(), "0.9.0-2-g%s-dirty" % second[:12])
        self.write("CMakeLists.txt", cmake_text("1.0.0"))
        self.assertEqual(self.version(), "1.0.0-dirty")
        self.git(self.repo, "checkout", "-q", "--", "a.txt")
        # An untracked file is no change to the commit.
        self.write("CMakeLists.txt", cmake_text("0.9.0").replace(" LANGUAGES C CXX", ""))
        self.write("untracked.txt", "x\n")
        self.assertEqual(self.version(), "0.9.0-2-g" + second[:12])

        self.commit("sets 1.0.0", CMakeLists_txt=cmake_text("1.0.0"))
        self.assertEqual(self.version(), "1.0.0")
        after = self.commit("after 1.0.0", a_txt="b\n")
        self.assertEqual(self.version(), "1.0.0-1-g" + after[:12])
        # Set back to an earlier version: counted from where it was set again.
        self.commit("back to 0.9.0", CMakeLists_txt=cmake_text("0.9.0"))
        self.assertEqual(self.version(), "0.9.0")

    def test_a_shallow_clone_and_a_tree_without_git(self):
        self.commit("before any version", CMakeLists_txt="project(k27prog C CXX)\n")
        self.commit("sets 0.9.0", CMakeLists_txt=cmake_text("0.9.0"))
        for n in range(3):
            head = self.commit("change %d" % n, a_txt="%d\n" % n)
        url = "file://" + self.repo
        rows = [
            # (depth, version): the history reaches the commit that set the
            # version only when it holds that commit's parent too.
            (1, "0.9.0-unknown-g" + head[:12]),
            (4, "0.9.0-unknown-g" + head[:12]),
            (5, "0.9.0-3-g" + head[:12]),
        ]
        for depth, expected in rows:
            with self.subTest(depth=depth):
                clone = os.path.join(self.work, "shallow-%d" % depth)
                subprocess.run(["git", "clone", "-q", "--depth", str(depth), "--no-tags", url, clone], check=True,
                               env=dict(os.environ, **GIT_ENV))
                self.assertEqual(self.version(clone), expected)
        # A source archive: the files, no git.
        archive = os.path.join(self.work, "archive")
        os.makedirs(archive)
        shutil.copy(os.path.join(self.repo, "CMakeLists.txt"), archive)
        self.assertEqual(self.version(archive), "0.9.0-unknown")
        # No git at all on the machine.
        old = os.environ["PATH"]
        os.environ["PATH"] = self.work
        try:
            self.assertEqual(self.version(), "0.9.0-unknown")
        finally:
            os.environ["PATH"] = old

    def test_resource_numbers_and_flags(self):
        rows = [
            ("0.9.0", (0, 9, 0, 0), True),
            ("0.9.0-3-g0123456789ab", (0, 9, 0, 3), False),
            ("1.2.3-70000-g0123456789ab", (1, 2, 3, 65535), False),
            ("0.9.0-3-g0123456789ab-dirty", (0, 9, 0, 3), False),
            ("0.9.0-dirty", (0, 9, 0, 0), False),
            ("0.9.0-unknown-g0123456789ab", (0, 9, 0, k27release.UNKNOWN_COUNT), False),
            ("0.9.0-unknown", (0, 9, 0, k27release.UNKNOWN_COUNT), False),
        ]
        for version, numbers, release in rows:
            with self.subTest(version):
                self.assertEqual(k27release.version_numbers(version), numbers)
                self.assertEqual(k27release.is_release(version), release)

    def test_this_tree_says_its_version_in_cmakelists(self):
        version = k27release.source_version(pathlib.Path(os.path.join(REPO, "CMakeLists.txt")).read_text())
        self.assertTrue(k27release.tool_version(REPO).startswith(version))
        with self.assertRaises(ValueError):
            k27release.source_version("project(k27prog C CXX)\n")


if __name__ == "__main__":
    unittest.main()

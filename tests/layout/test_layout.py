"""The layout's rule, checked: docs/layout.md's table gives each folder what
it may use, and every project include of a product file, and every link and
include folder that a build file gives a product target, keeps to its
folder's row. Tests (tests/, and *_test.cc beside their code) may use
everything. Reads the sources and CMake files as text: no build, no Wine.

    python3 tests/layout/test_layout.py"""

import os
import re
import subprocess
import unittest

REPO = os.path.normpath(os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", ".."))
SOURCE = re.compile(r"\.(c|cc|cpp|h|hpp)$")
INCLUDE = re.compile(r'^[ \t]*#[ \t]*include[ \t]*([<"])([^>"]+)[>"]', re.M)
BUILT = "@build"  # what the build writes, under its own folder


def under(path, folder):
    return folder == "" or path == folder or path.startswith(folder + "/")


def is_test(path):
    return path.startswith("tests/") or re.search(r"_test\.(c|cc|cpp)$", path) is not None


def read(path):
    with open(os.path.join(REPO, path), errors="replace") as f:
        return f.read()


def layout_rows():
    """folder -> what it may use: a list of folders and files, or None for
    everything."""
    rows = {}
    for line in read("docs/layout.md").split("\n"):
        cells = [cell.strip() for cell in line.strip("| ").split("|")]
        if line.startswith("| `") and len(cells) == 3:
            uses = None if "everything" in cells[2] else [u.rstrip("/") for u in re.findall(r"`([^`]+)`", cells[2])]
            rows[cells[0].strip("`").rstrip("/")] = uses
    return rows


class Rule:
    def __init__(self):
        self.rows = layout_rows()

    def row(self, path):
        """The folder whose row holds `path`, or None."""
        return max((f for f in self.rows if under(path, f)), key=len, default=None)

    def breach(self, row, place, what):
        """Why `row` may not use `place`, or None when it may."""
        uses = self.rows[row]
        if uses is None or under(place, row) or any(under(place, u) for u in uses):
            return None
        return "%s, which the row `%s` of docs/layout.md does not allow (it may use: %s)" % (
            what, row, ", ".join(uses) or "nothing of the project")


class Build:
    """The CMake files as far as the rule needs: each target's build file,
    sources, links and include folders, and the files the build makes, with
    the sources they are made from."""

    KEYWORDS = {"PUBLIC", "PRIVATE", "INTERFACE", "SYSTEM", "BEFORE", "STATIC", "SHARED", "OBJECT", "UNKNOWN",
                "IMPORTED", "GLOBAL", "EXCLUDE_FROM_ALL", "WIN32"}

    def __init__(self, files):
        calls = []
        for path in (f for f in files if os.path.basename(f) == "CMakeLists.txt"):
            text = re.sub(r'#[^\n"]*(?=\n)', "", read(path))
            for m in re.finditer(r"^[ \t]*(\w+)[ \t]*\(((?:[^()]|\([^()]*\))*)\)", text, re.M):
                args = [a.group(a.lastindex) for a in re.finditer(r'"((?:\\.|[^"\\])*)"|([^\s()"]+)', m.group(2))]
                calls.append((path, text.count("\n", 0, m.start()) + 1, m.group(1).lower(), args))
        self.variables = {a[0]: (p, a[1]) for p, _, name, a in calls if name == "set" and len(a) > 1}
        self.targets, self.generated, self.links, self.includes = {}, {}, [], []
        depth = 0
        for path, line, name, args in calls:
            depth += {"function": 1, "endfunction": -1}.get(name, 0)
            if depth or not args:
                continue
            target, items = self.expand(args[0], path), [a for a in args[1:] if a not in self.KEYWORDS]
            places = [p for p in (self.place(i, path) for i in items) if p is not None]
            if name in ("add_library", "add_executable"):
                self.targets.setdefault(target, {"file": path, "sources": [], "links": [],
                                                 "imported": "IMPORTED" in args})
            if name in ("add_library", "add_executable", "target_sources") and target in self.targets:
                self.targets[target]["sources"] += [p for p in places if p]
            elif name == "target_link_libraries":
                self.links.append((path, line, target, [self.expand(i, path) for i in items]))
                self.targets.get(target, {"links": []})["links"] += self.links[-1][3]
            elif name == "target_include_directories":
                self.includes.append((path, line, target, places))
            elif name == "add_custom_command" and "OUTPUT" in args:
                depends = args[args.index("DEPENDS") + 1:] if "DEPENDS" in args else []
                depends = depends[:next((i for i, a in enumerate(depends) if a.isupper()), len(depends))]
                made_from = [p for p in (self.place(d, path) for d in depends) if p and not p.startswith(BUILT)]
                self.generated.update({self.place(out, path): made_from for out in args[1:args.index("COMMAND")]})

    def expand(self, value, path, seen=()):
        def one(m):
            name = m.group(1)
            if name in ("CMAKE_BINARY_DIR", "CMAKE_CURRENT_BINARY_DIR"):
                return BUILT
            if name in ("CMAKE_SOURCE_DIR", "CMAKE_CURRENT_SOURCE_DIR"):
                return REPO + ("/" + os.path.dirname(path) if "CURRENT" in name else "")
            where, value = self.variables.get(name, (path, ""))
            return "" if name in seen else self.expand(value, where, seen + (name,))
        return re.sub(r"\$\{(\w+)\}", one, value)

    def place(self, value, path):
        """A project path, a path the build writes (@build/...), "" for the
        top folder, or None for what lies outside."""
        value = self.expand(value, path)
        if value.startswith(BUILT) or value.startswith("$<") or not value:
            return value if value.startswith(BUILT) else None
        full = os.path.normpath(os.path.join(REPO, os.path.dirname(path), value))
        return None if not under(full, REPO) else "" if full == REPO else os.path.relpath(full, REPO)

    def holds(self, target, seen=()):
        """The project files a target is made of; for a group of others
        (no sources of its own), what those are made of."""
        info = self.targets.get(target)
        if not info or info["imported"] or target in seen:
            return []
        places = [o for s in info["sources"] for o in (self.generated.get(s, []) if s.startswith(BUILT) else [s])]
        return places or [p for link in info["links"] for p in self.holds(link, seen + (target,))]


def target_row(rule, build, target, path):
    """A target keeps to its build file's row, or (a build file above the
    parts: the top one, tools/) to the one row its sources share."""
    info = build.targets.get(target)
    if is_test(path) or target.endswith("_tests") or (info and any("GTest" in l for l in info["links"])):
        return None
    row = rule.row(os.path.dirname(info["file"] if info else path))
    rows = {rule.row(p) for p in build.holds(target)}
    return row if row is not None else rows.pop() if len(rows) == 1 else None


class LayoutTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        listed = subprocess.run(["git", "-C", REPO, "ls-files", "--cached", "--others", "--exclude-standard"],
                                capture_output=True, text=True, check=True).stdout.split("\n")
        cls.files = sorted(f for f in listed if f and os.path.isfile(os.path.join(REPO, f)))
        cls.rule, cls.build = Rule(), Build(cls.files)

    def check(self, errors):
        if errors:
            self.fail("\n" + "\n".join(errors))

    def test_the_table_names_what_exists(self):
        self.assertIsNone(self.rule.rows["tests"])
        for row, uses in self.rule.rows.items():
            for place in [row] + (uses or []):
                self.assertTrue(os.path.exists(os.path.join(REPO, place)), "docs/layout.md names " + place)

    def test_every_include_keeps_to_its_folders_row(self):
        folders = sorted({p for *_, places in self.build.includes for p in places if not p.startswith(BUILT)}, key=len)
        present, errors = set(self.files), []
        for path in (f for f in self.files if SOURCE.search(f) and not is_test(f)):
            row = self.rule.row(path)
            if row is None:
                errors.append("%s: no row of docs/layout.md holds it" % path)
                continue
            text = read(path)
            for m in INCLUDE.finditer(text):
                where = "%s:%d: includes %s" % (path, text.count("\n", 0, m.start()) + 1, m.group(2))
                tried = [os.path.normpath(os.path.join(f, m.group(2)))
                         for f in ([os.path.dirname(path)] if m.group(1) == '"' else []) + folders]
                made = [o for out, o in self.build.generated.items() if os.path.basename(out) == m.group(2)]
                found = next((t for t in tried if t in present), made[0][0] if made else None)
                if found is None and m.group(1) == '"':
                    errors.append(where + ", which is no file of the project")
                elif found is not None:
                    errors += filter(None, [self.rule.breach(row, found, "%s (%s)" % (where, found))])
        self.check(errors)

    def test_every_link_and_include_folder_keeps_to_its_targets_row(self):
        # The build files as read: the tool's parts, and where the
        # interfaces' header comes from.
        self.assertEqual(self.build.holds("k27idl"), ["src/server/k27server.idl"])
        self.assertIn("src/image/checksum.cc", self.build.holds("k27core"))
        errors = []
        for path, line, target, items in self.build.links:
            row = target_row(self.rule, self.build, target, path)
            for item in items if row is not None else []:
                what = "%s:%d: %s links %s, which holds " % (path, line, target, item)
                breaches = [self.rule.breach(row, p, what + p) for p in self.build.holds(item)]
                errors += [b for b in breaches if b][:1]
        for path, line, target, places in self.build.includes:
            row = target_row(self.rule, self.build, target, path)
            home = os.path.dirname(self.build.targets[target]["file"] if target in self.build.targets else path)
            for place in places if row is not None else []:
                # The top folder serves the "folder/name.h" form, each include
                # checked above; a folder above the target's own serves its own.
                made = [o for out, made_from in self.build.generated.items() if os.path.dirname(out) == place
                        for o in made_from] if place.startswith(BUILT) else [] if under(home, place) else [place]
                what = "%s:%d: %s includes the folder %s" % (path, line, target, place or "(top)")
                errors += [b for b in (self.rule.breach(row, m, what + " (%s)" % m) for m in made) if b][:1]
        self.check(errors)


if __name__ == "__main__":
    unittest.main()

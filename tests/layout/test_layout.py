"""The layout's rule, checked: docs/layout.md's table gives each folder the
parts it may use, and every project include of a product file, and every
link and include folder that a build file gives a product target, must keep
to its folder's row. Tests (tests/, and *_test.cc beside their code) may
use everything. Reads the sources and the CMake files as text: no build,
no Wine.

    python3 tests/layout/test_layout.py"""

import os
import re
import subprocess
import unittest

REPO = os.path.normpath(os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", ".."))
EVERYTHING = "everything"
SOURCE = re.compile(r"\.(c|cc|cpp|h|hpp)$")
INCLUDE = re.compile(r'^[ \t]*#[ \t]*include[ \t]*([<"])([^>"]+)[>"]', re.M)
# CMake's own folders, and where a build writes.
SOURCE_DIR, BUILD_DIR = "@source", "@build"


def repo_files():
    """The tree's files, tracked or not (ignored ones left out), relative;
    in a tree without git, every file outside hidden and build folders."""
    done = subprocess.run(["git", "-C", REPO, "ls-files", "--cached", "--others", "--exclude-standard"],
                          capture_output=True, text=True)
    if done.returncode == 0:
        listed = done.stdout.split("\n")
    else:
        listed = []
        for top, folders, names in os.walk(REPO):
            folders[:] = [f for f in folders if not f.startswith((".", "build"))]
            listed += [os.path.relpath(os.path.join(top, name), REPO) for name in names]
    return sorted({path for path in listed if path and os.path.isfile(os.path.join(REPO, path))})


def is_test(path):
    return path.startswith("tests/") or re.search(r"_test\.(c|cc|cpp)$", path) is not None


def under(path, folder):
    return folder == "" or path == folder or path.startswith(folder + "/")


class Table:
    """docs/layout.md's rows: folder -> the folders and files it may use."""

    def __init__(self):
        self.rows = {}
        with open(os.path.join(REPO, "docs", "layout.md")) as f:
            for line in f:
                cells = [cell.strip() for cell in line.strip().strip("|").split("|")]
                named = re.fullmatch(r"`([^`]+)`", cells[0]) if line.startswith("| `") else None
                if not named or len(cells) != 3:
                    continue
                uses = cells[2]
                allowed = EVERYTHING if EVERYTHING in uses else [u.rstrip("/") for u in re.findall(r"`([^`]+)`", uses)]
                self.rows[named.group(1).rstrip("/")] = allowed

    def row(self, path):
        """The folder whose row holds `path`, or None."""
        folders = [folder for folder in self.rows if under(path, folder)]
        return max(folders, key=len) if folders else None

    def allows(self, row, path):
        allowed = self.rows[row]
        return allowed == EVERYTHING or under(path, row) or any(under(path, a) for a in allowed)

    def says(self, row):
        allowed = self.rows[row]
        return "everything" if allowed == EVERYTHING else ", ".join(allowed) or "nothing of the project"


# --- the build files, read as far as the rule needs ---------------------------

TOKEN = re.compile(r'"((?:\\.|[^"\\])*)"|([^\s()"#]+)|(#[^\n]*)|([()])')


def commands(text):
    """(name, arguments, line) of each command of a CMake file."""
    out = []
    at = 0
    head = re.compile(r"(?m)^[ \t]*([A-Za-z_]\w*)[ \t]*\(")
    while True:
        found = head.search(text, at)
        if not found:
            return out
        depth, args, pos = 1, [], found.end()
        while depth and pos < len(text):
            token = TOKEN.search(text, pos)
            if not token:
                break
            pos = token.end()
            quoted, word, comment, paren = token.groups()
            if paren == "(":
                depth += 1
            elif paren == ")":
                depth -= 1
            elif comment is None:
                args.append(quoted if quoted is not None else word)
        out.append((found.group(1).lower(), args, text.count("\n", 0, found.start()) + 1))
        at = pos


class Build:
    """Targets, their sources, links and include folders, and the files the
    build generates with the sources they come from."""

    KEYWORDS = {"PUBLIC", "PRIVATE", "INTERFACE", "SYSTEM", "BEFORE", "AFTER", "STATIC", "SHARED", "MODULE",
                "OBJECT", "UNKNOWN", "IMPORTED", "GLOBAL", "EXCLUDE_FROM_ALL", "WIN32", "ALIAS"}

    def __init__(self, files):
        self.files = [f for f in files if os.path.basename(f) == "CMakeLists.txt"]
        self.parsed = {}
        self.variables = {}
        for path in self.files:
            with open(os.path.join(REPO, path)) as f:
                self.parsed[path] = [c for c in self.outside_functions(commands(f.read()))]
            for name, args, _ in self.parsed[path]:
                if name == "set" and len(args) > 1:
                    values = args[1:]
                    for stop in ("CACHE", "PARENT_SCOPE"):
                        values = values[:values.index(stop)] if stop in values else values
                    self.variables[args[0]] = (path, values)
        self.targets = {}      # name -> {"file", "line", "imported", "sources", "links"}
        self.generated = {}    # build path -> the project files it is made from
        self.links, self.includes = [], []  # (file, line, target, items)
        for path in self.files:
            for name, args, line in self.parsed[path]:
                self.read_command(path, name, args, line)

    @staticmethod
    def outside_functions(cmds):
        depth = 0
        for cmd in cmds:
            if cmd[0] in ("function", "macro"):
                depth += 1
            elif cmd[0] in ("endfunction", "endmacro"):
                depth -= 1
            elif depth == 0:
                yield cmd

    def expand(self, value, path, seen=()):
        def one(match):
            name = match.group(1)
            if name == "CMAKE_SOURCE_DIR":
                return SOURCE_DIR
            if name == "CMAKE_CURRENT_SOURCE_DIR":
                return SOURCE_DIR + "/" + os.path.dirname(path)
            if name in ("CMAKE_BINARY_DIR", "CMAKE_CURRENT_BINARY_DIR"):
                return BUILD_DIR
            if name in self.variables and name not in seen:
                where, values = self.variables[name]
                return " ".join(self.expand(v, where, seen + (name,)) for v in values)
            return ""
        return re.sub(r"\$\{(\w+)\}", one, value)

    def place(self, value, path):
        """A path in the tree ('src/run'), one the build writes ('@build/...'),
        or None for what lies elsewhere."""
        value = self.expand(value, path).rstrip("/")
        if value.startswith(SOURCE_DIR):
            return value[len(SOURCE_DIR) + 1:]
        if value.startswith(BUILD_DIR):
            return value
        if not value or value.startswith(("/", "$<")):
            return None
        return os.path.normpath(os.path.join(os.path.dirname(path), value))

    def read_command(self, path, name, args, line):
        if not args:
            return
        target = self.expand(args[0], path)
        items = [a for a in args[1:] if a not in self.KEYWORDS]
        if name in ("add_library", "add_executable"):
            self.targets.setdefault(target, {"file": path, "line": line, "imported": "IMPORTED" in args,
                                             "sources": [], "links": []})
            self.targets[target]["sources"] += [p for p in (self.place(i, path) for i in items) if p]
        elif name == "target_sources" and target in self.targets:
            self.targets[target]["sources"] += [p for p in (self.place(i, path) for i in items) if p]
        elif name == "target_link_libraries":
            expanded = [self.expand(i, path) for i in items]
            self.links.append((path, line, target, expanded))
            if target in self.targets:
                self.targets[target]["links"] += expanded
        elif name == "target_include_directories":
            self.includes.append((path, line, target, [p for p in (self.place(i, path) for i in items) if p is not None]))
        elif name == "add_custom_command" and "OUTPUT" in args:
            outputs, depends, part = [], [], None
            for a in args:
                if a in ("OUTPUT", "DEPENDS", "COMMAND", "WORKING_DIRECTORY", "COMMENT", "VERBATIM", "BYPRODUCTS"):
                    part = a
                elif part == "OUTPUT":
                    outputs.append(self.place(a, path))
                elif part == "DEPENDS":
                    depends.append(self.place(a, path))
            origins = [d for d in depends if d and not d.startswith(BUILD_DIR)]
            for out in outputs:
                if out:
                    self.generated[out] = origins

    def origins(self, place):
        """The project files a place stands for: itself, or what the build
        makes it from; none for what the project does not make."""
        if not place.startswith(BUILD_DIR):
            return [place]
        return self.generated.get(place, [])

    def holds(self, target, seen=None):
        """What a target holds: its sources' places, or for one without
        sources (a group of others) what those hold."""
        seen = seen if seen is not None else set()
        info = self.targets.get(target)
        if not info or info["imported"] or target in seen:
            return []
        seen.add(target)
        places = [o for s in info["sources"] for o in self.origins(s)]
        if places:
            return places
        return [p for link in info["links"] for p in self.holds(link, seen)]

    def is_test_target(self, target):
        info = self.targets.get(target)
        return (target.endswith("_tests") or (info and is_test(info["file"])) or
                any(link.startswith("GTest::") for link in (info["links"] if info else [])))


def row_of_target(table, build, target, path):
    """The row a target keeps to: its build file's folder's, else (a file
    above the parts: the top one, tools/) the one row its sources share."""
    info = build.targets.get(target)
    row = table.row(os.path.dirname(info["file"] if info else path))
    if row is not None:
        return row
    rows = {table.row(p) for p in (build.holds(target) if info else [])}
    return rows.pop() if len(rows) == 1 else None


def include_errors(table, files, build):
    roots = {p for _, _, _, places in build.includes for p in places if not p.startswith(BUILD_DIR)}
    present = set(files)
    errors = []
    for path in files:
        if not SOURCE.search(path) or is_test(path):
            continue
        row = table.row(path)
        if row is None:
            errors.append("%s: no row of docs/layout.md holds it" % path)
            continue
        with open(os.path.join(REPO, path), errors="replace") as f:
            text = f.read()
        for match in INCLUDE.finditer(text):
            quoted, name = match.group(1) == '"', match.group(2)
            line = text.count("\n", 0, match.start()) + 1
            folders = ([os.path.dirname(path)] if quoted else []) + sorted(roots, key=len)
            found = next((os.path.normpath(os.path.join(f, name)) for f in folders
                          if os.path.normpath(os.path.join(f, name)) in present), None)
            if found is None:
                made = [o for out, o in build.generated.items() if os.path.basename(out) == os.path.basename(name)]
                if made:
                    found = made[0][0] if made[0] else None
                elif quoted:
                    errors.append("%s:%d: includes \"%s\", which is no file of the project" % (path, line, name))
                    continue
            if found and not table.allows(row, found):
                errors.append("%s:%d: includes %s (%s), which the row `%s` of docs/layout.md does not allow "
                              "(it may use: %s)" % (path, line, name, found, row, table.says(row)))
    return errors


def build_errors(table, build):
    errors = []
    for path, line, target, items in build.links:
        row = row_of_target(table, build, target, path)
        if row is None or is_test(path) or build.is_test_target(target):
            continue
        for item in items:
            for place in build.holds(item):
                if not table.allows(row, place):
                    errors.append("%s:%d: %s links %s, which holds %s; the row `%s` of docs/layout.md does not "
                                  "allow it (it may use: %s)" % (path, line, target, item, place, row, table.says(row)))
                    break
    for path, line, target, places in build.includes:
        row = row_of_target(table, build, target, path)
        if row is None or is_test(path) or build.is_test_target(target):
            continue
        info = build.targets.get(target)
        home = os.path.dirname(info["file"] if info else path)
        for place in places:
            # The top folder serves the "folder/name.h" form (each include is
            # checked above); a folder above the target's own serves its own.
            if place.startswith(BUILD_DIR):
                made = [o for out, origins in build.generated.items() if os.path.dirname(out) == place for o in origins]
                bad = [o for o in made if not table.allows(row, o)]
            else:
                bad = [] if place == "" or under(home, place) or table.allows(row, place) else [place]
            for b in bad[:1]:
                errors.append("%s:%d: %s includes the folder %s (%s); the row `%s` of docs/layout.md does not "
                              "allow it (it may use: %s)" % (path, line, target, place, b, row, table.says(row)))
    return errors


class LayoutTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.table = Table()
        cls.files = repo_files()
        cls.build = Build(cls.files)

    def test_the_table_names_what_exists(self):
        self.assertIn("src", self.table.rows)
        self.assertEqual(self.table.rows["tests"], EVERYTHING)
        for row, allowed in self.table.rows.items():
            for place in [row] + ([] if allowed == EVERYTHING else allowed):
                with self.subTest(place):
                    self.assertTrue(os.path.exists(os.path.join(REPO, place)), "docs/layout.md names " + place)

    def test_every_include_keeps_to_its_folders_row(self):
        errors = include_errors(self.table, self.files, self.build)
        if errors:
            self.fail("\n" + "\n".join(errors))

    def test_every_link_and_include_folder_keeps_to_its_targets_row(self):
        # The reading of the build files itself: the tool's parts and where
        # the interfaces' header comes from.
        self.assertEqual(self.build.holds("k27idl"), ["src/server/k27server.idl"])
        self.assertIn("src/image/checksum.cc", self.build.holds("k27core"))
        errors = build_errors(self.table, self.build)
        if errors:
            self.fail("\n" + "\n".join(errors))


if __name__ == "__main__":
    unittest.main()

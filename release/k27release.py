#!/usr/bin/env python3
"""The Windows release kit of k27prog: the tool's version, what the carried
image holds, the texts for the Windows user and the zip, the same byte for
byte from the same commit wherever and whenever it is built.

Commands (scripts/release and the build call them):
  version SOURCE                       the tool's version
  version-header --source S --image I [--tool-version=V] --out H
                                       the version resources' values (k27_program_resources)
  kit --source S --build B --resource R --version V --commit C --epoch E --out DIR
      [--sign P12 [--password-file F] [--timestamp URL] [--signatures DIR] | --attach DIR]
                                       stages the kit, signs its programs (or
                                       attaches their signatures) and writes its zip
  check-signer --sign P12 [--password-file F]
                                       the PKCS#12 opens with its password
  compare ZIP ZIP                      same bytes, or which files differ
  inspect ZIP --epoch E                no debug sections, no symbol table, the
                                       fixed time stamp, k27prog.exe below 3 MB
"""

import argparse
import hashlib
import os
import re
import subprocess
import sys
import textwrap
import time
import zipfile
import zlib

import k27sign

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(os.path.dirname(HERE), "model"))
from k27model import (CODE_BRANCH_AT, CODE_HEADER_SIZE, CODE_REVISION_AT, CODE_VERSION_AT,  # noqa: E402
                      PROFILE_NUMBER_AT, get16, profile_place)
# What the kit's k27prog.exe must stay below, in bytes.
TOOL_SIZE_LIMIT = 3 * 1000 * 1000


# --- the tool's version ---------------------------------------------------

# The version as the source writes it, on the project line of CMakeLists.txt.
VERSION_LINE = re.compile(r"^project\(k27prog VERSION (\d+\.\d+\.\d+)[ )]", re.M)
# The file version's fourth number when the commits since the version was
# set cannot be counted: above any count a release line reaches.
UNKNOWN_COUNT = 65535


def source_version(cmake_text):
    m = VERSION_LINE.search(cmake_text)
    if not m:
        raise ValueError("CMakeLists.txt has no line project(k27prog VERSION X.Y.Z ...)")
    return m.group(1)


def _git(source, *args):
    """git's output in the tree, or None when git or the checkout is not there
    or the command fails."""
    try:
        done = subprocess.run(["git", "-C", source] + list(args), capture_output=True, text=True)
    except OSError:
        return None
    return done.stdout.strip() if done.returncode == 0 else None


def commits_since_set(source, version):
    """How many commits after the one that set `version` HEAD is: 0 at that
    commit; None when the history here cannot tell (a shallow clone cut off
    at or before that commit)."""
    setter = _git(source, "log", "-1", "--format=%H", "-S", "project(k27prog VERSION %s" % version, "HEAD",
                  "--", "CMakeLists.txt")
    if not setter:
        return None
    # A shallow clone's oldest commits seem to add every file they hold.
    shallow = _git(source, "rev-parse", "--git-path", "shallow")
    if shallow:
        path = shallow if os.path.isabs(shallow) else os.path.join(source, shallow)
        if os.path.exists(path) and setter in read(path, "r").split():
            return None
    count = _git(source, "rev-list", "--count", setter + "..HEAD")
    return int(count) if count is not None else None


def tool_version(source):
    """The version the source sets, with git's commit suffix: "X.Y.Z" at the
    commit that set it, "X.Y.Z-N-g<commit>" N commits after it;
    "X.Y.Z-unknown-g<commit>" when the history at hand cannot count them (a
    shallow clone), "X.Y.Z-unknown" without git or outside a checkout. A
    tree whose tracked files differ from its commit adds "-dirty" (and its
    own version, when it changes the version line, is that version "-dirty")."""
    version = source_version(read(os.path.join(source, "CMakeLists.txt"), "r"))
    head = _git(source, "rev-parse", "--verify", "-q", "HEAD")
    if not head:
        return version + "-unknown"
    dirty = _git(source, "status", "--porcelain", "--untracked-files=no") != ""
    committed = _git(source, "show", "HEAD:CMakeLists.txt")
    if committed is None or VERSION_LINE.search(committed + "\n") is None or \
            source_version(committed + "\n") != version:
        # The version is being set by the uncommitted change itself.
        return version + "-dirty"
    count = commits_since_set(source, version)
    if count is None:
        version += "-unknown-g" + head[:12]
    elif count > 0:
        version += "-%d-g%s" % (count, head[:12])
    return version + ("-dirty" if dirty else "")


def version_numbers(version):
    """The four 16-bit numbers of the version resource: major, minor, patch
    and the commits since the version was set (UNKNOWN_COUNT when they
    cannot be counted)."""
    m = re.match(r"(\d+)\.(\d+)\.(\d+)(?:-(\d+|unknown)(?:-g|$))?", version)
    if not m:
        return (0, 0, 0, 0)
    count = m.group(4) or "0"
    count = UNKNOWN_COUNT if count == "unknown" else int(count)
    return tuple(min(int(n), 65535) for n in m.groups()[:3]) + (min(count, 65535),)


def is_release(version):
    """A version the source set, at the commit that set it, clean."""
    return re.fullmatch(r"\d+\.\d+\.\d+", version) is not None


# --- the carried image ----------------------------------------------------

def image_facts(resource):
    """The release line's values and the digests of an image resource. The
    headers are read, not checked: k27image info is the judge of that."""
    code = zlib.decompress(resource)
    store, _ = profile_place(code)
    if len(code) < CODE_HEADER_SIZE or store < 0 or store + PROFILE_NUMBER_AT + 2 > len(code):
        raise ValueError("the image's headers are not all there")
    return {
        "release": "%d.%d.%d(%d)" % (get16(code, CODE_BRANCH_AT), get16(code, CODE_VERSION_AT),
                                     get16(code, CODE_REVISION_AT), get16(code, store + PROFILE_NUMBER_AT)),
        "resource_size": len(resource),
        "resource_sha256": hashlib.sha256(resource).hexdigest(),
        "code_size": len(code),
        "code_sha256": hashlib.sha256(code).hexdigest(),
    }


def zip_release(release):
    """1.1.5(1) as it goes into a file name: 1.1.5-1."""
    return re.sub(r"\((\d+)\)$", r"-\1", release)


def rc_string(text):
    # Only versions and this machine's paths come here; the resource
    # compiler would read a backslash or a quote as markup.
    if '"' in text or "\\" in text:
        raise ValueError("cannot write %r into the resource script" % text)
    return '"%s"' % text


def version_header(source, image, version, out):
    version = version or tool_version(source)
    with open(image, "rb") as f:
        try:
            release = image_facts(f.read())["release"]
        except (zlib.error, ValueError):
            release = "unknown"
    flags = "0" if is_release(version) else "VS_FF_PRERELEASE"
    text = "\n".join([
        "// Written by release/k27release.py at each build; not kept in the tree.",
        "#define K27_TOOL_VERSION %s" % rc_string(version),
        "#define K27_TOOL_VERSION_NUMBERS %d, %d, %d, %d" % version_numbers(version),
        "#define K27_FILE_FLAGS %s" % flags,
        "#define K27_FIRMWARE_RELEASE %s" % rc_string(release),
        "#define K27_IMAGE_FILE %s" % rc_string(os.path.abspath(image)),
        "",
    ])
    # Written only when it changes, so the resource is not rebuilt each time.
    try:
        with open(out) as f:
            if f.read() == text:
                return
    except OSError:
        pass
    os.makedirs(os.path.dirname(out), exist_ok=True)
    with open(out, "w") as f:
        f.write(text)


# --- the texts for the Windows user ---------------------------------------

def section(markdown, title):
    """The body of a "## title" section of a Markdown file."""
    m = re.search(r"^## %s\n(.*?)(?=^## |\Z)" % re.escape(title), markdown, re.M | re.S)
    if not m:
        raise ValueError("no section '%s'" % title)
    return m.group(1)


def run_transcript(readme):
    """The indented console transcript of README.md's "What a run looks
    like"."""
    body = section(readme, "What a run looks like")
    m = re.search(r"((?:^    .*\n)+)", body, re.M)
    return [line[4:] for line in m.group(1).splitlines()]


def plain(markdown_text):
    """Markdown inline markup as plain text."""
    text = re.sub(r"\[([^\]]+)\]\([^)]+\)", r"\1", markdown_text)
    return text.replace("`", "").replace("**", "")


def status_table(readme):
    """README.md's "Exit statuses" table: (status, message, meaning) rows."""
    rows = []
    for line in section(readme, "Exit statuses").splitlines():
        cells = [c.strip() for c in line.strip().strip("|").split("|")]
        if len(cells) != 3 or not cells[0].isdigit():
            continue
        message = cells[1]
        if not (message.startswith('"') and message.endswith('"')):
            raise ValueError("a message in README.md's table is not quoted: " + message)
        rows.append((int(cells[0]), message[1:-1], plain(cells[2])))
    if not rows:
        raise ValueError("README.md's exit status table is empty")
    return rows


def render_status_table(rows):
    out = []
    for status, message, meaning in rows:
        out.append("%6d  %s" % (status, message))
        out.extend(textwrap.wrap(meaning, width=76, initial_indent=" " * 8, subsequent_indent=" " * 8))
        out.append("")
    return "\n".join(out).rstrip("\n")


def fill(template, values):
    def put(m):
        if m.group(1) not in values:
            raise ValueError("no value for @%s@" % m.group(1))
        return values[m.group(1)]
    return re.sub(r"@([A-Z_]+)@", put, template)


def crlf(text):
    return text.replace("\r\n", "\n").replace("\n", "\r\n").encode("utf-8")


SIGNED_NOTE = ("The programs and the DLL of this kit are signed (Authenticode, SHA-256): each\n"
               "file's Properties, Digital Signatures tab, names the signer.")
UNSIGNED_NOTE = ("The programs and the DLL of this kit are not signed: expect Windows to stop\n"
                 "them as below, and keep this kit off PCs that allow only signed programs.")


def readme_values(source, version, release, signed=False):
    with open(os.path.join(source, "README.md")) as f:
        readme = f.read()
    return {
        "TOOL_VERSION": version,
        "RELEASE": release,
        "SIGNING": SIGNED_NOTE if signed else UNSIGNED_NOTE,
        "TRANSCRIPT": "\n".join("    " + line for line in run_transcript(readme)),
        "STATUS_TABLE": render_status_table(status_table(readme)),
    }


# --- the zip --------------------------------------------------------------

def zip_time(epoch):
    """The entries' time: the commit's, in UTC, as the zip format holds it
    (from 1980, to two seconds)."""
    t = time.gmtime(max(epoch, 315532800))
    return (t.tm_year, t.tm_mon, t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec - t.tm_sec % 2)


def write_zip(path, files, epoch):
    """`files` as (name, bytes), written in name order with one fixed time,
    as plain files of no particular system (MS-DOS attributes, the archive
    bit alone), no extra fields: nothing of the machine or the moment."""
    when = zip_time(epoch)
    tmp = path + ".tmp"
    with zipfile.ZipFile(tmp, "w") as z:
        for name, data in sorted(files):
            info = zipfile.ZipInfo(name, date_time=when)
            info.create_system = 0
            # Not 0, which zipfile would replace with Unix permissions.
            info.external_attr = 0x20
            info.compress_type = zipfile.ZIP_DEFLATED
            z.writestr(info, data, compresslevel=9)
    os.replace(tmp, path)


def manifest(version, commit, epoch, facts, files, signed=False):
    when = time.strftime("%Y-%m-%d %H:%M:%S UTC", time.gmtime(epoch))
    lines = [
        "k27prog release kit for 64-bit Windows",
        "",
        "Tool version:      %s" % version,
        "Commit:            %s" % commit,
        "Source date:       %s (the commit's; every file carries it)" % when,
        "Firmware release:  %s" % facts["release"],
        "Image resource:    %d bytes, SHA-256 %s" % (facts["resource_size"], facts["resource_sha256"]),
        "Code block:        %d bytes, SHA-256 %s" % (facts["code_size"], facts["code_sha256"]),
        "Signatures:        %s" % ("Authenticode SHA-256 on %s (the sums below are of the signed files)" %
                                   ", ".join(k27sign.programs(files)) if signed else "none"),
        "",
        "SHA256SUMS of every other file in this zip. On Windows compare with",
        "  certutil -hashfile k27prog.exe SHA256",
        "elsewhere check them all with  sha256sum -c MANIFEST.txt  (the lines above",
        "are then reported as improperly formatted, which is harmless).",
        "",
    ]
    lines += ["%s  %s" % (hashlib.sha256(data).hexdigest(), name) for name, data in sorted(files)]
    return crlf("\n".join(lines) + "\n")


def read(path, mode="rb"):
    with open(path, mode) as f:
        return f.read()


def kit(args):
    with open(args.resource, "rb") as f:
        facts = image_facts(f.read())
    if args.expect_release and facts["release"] != args.expect_release:
        raise SystemExit("release: the image reads as %s here but %s to k27image" %
                         (facts["release"], args.expect_release))
    signed = bool(args.sign or args.attach)
    values = readme_values(args.source, args.version, facts["release"], signed)
    kit_dir = os.path.join(args.source, "release", "bench-kit")
    files = [
        ("k27prog.exe", read(os.path.join(args.build, "bin", "k27prog.exe"))),
        ("k27image.exe", read(os.path.join(args.build, "bin", "k27image.exe"))),
        ("README.txt", crlf(fill(read(os.path.join(HERE, "README.txt.in"), "r"), values))),
        ("bench-kit/k27kit.exe", read(os.path.join(args.build, "bin", "k27kit.exe"))),
        ("bench-kit/k27sim.exe", read(os.path.join(args.build, "bin", "k27sim.exe"))),
        ("bench-kit/k27ps.dll", read(os.path.join(args.build, "bin", "k27ps.dll"))),
        ("bench-kit/catalogue.md", crlf(read(os.path.join(args.source, "docs", "catalogue.md"), "r"))),
        ("bench-kit/README.txt", crlf(fill(read(os.path.join(kit_dir, "README.txt.in"), "r"), values))),
        ("bench-kit/bench.md", crlf(read(os.path.join(args.source, "docs", "bench.md"), "r"))),
        ("bench-kit/station.md", crlf(read(os.path.join(args.source, "docs", "station.md"), "r"))),
    ]
    for name in sorted(os.listdir(kit_dir)):
        if name.endswith(".json"):
            files.append(("bench-kit/" + name, crlf(read(os.path.join(kit_dir, name), "r"))))
    # The scenario catalogue k27kit qualify plays, beside it.
    catalogue = os.path.join(args.source, "kit", "catalogue")
    for name in sorted(os.listdir(catalogue)):
        if name.endswith(".json"):
            files.append(("bench-kit/catalogue/" + name, crlf(read(os.path.join(catalogue, name), "r"))))
    # Signed before the manifest is made: its sums are the signed files'.
    if args.sign:
        signer = k27sign.Signer(args.sign, k27sign.read_password(args.password_file), args.epoch, args.timestamp)
        files = k27sign.sign_files(files, signer, args.commit, args.signatures)
    elif args.attach:
        files = k27sign.attach_files(files, args.attach, args.commit)
    files.append(("MANIFEST.txt", manifest(args.version, args.commit, args.epoch, facts, files, signed)))
    os.makedirs(args.out, exist_ok=True)
    path = os.path.join(args.out, "k27prog-%s-win64.zip" % zip_release(facts["release"]))
    write_zip(path, files, args.epoch)
    print(path)


# --- checks on a zip ------------------------------------------------------

def compare(args):
    """Same bytes, or the entries that differ and how."""
    a, b = args.zips
    da, db = (hashlib.sha256(read(path)).hexdigest() for path in (a, b))
    print("%s  %s" % (da, a))
    print("%s  %s" % (db, b))
    if da == db:
        print("release: the two builds gave the same zip")
        return 0
    with zipfile.ZipFile(a) as za, zipfile.ZipFile(b) as zb:
        ia = {i.filename: i for i in za.infolist()}
        ib = {i.filename: i for i in zb.infolist()}
        for name in sorted(set(ia) | set(ib)):
            if name not in ia or name not in ib:
                print("release: %s is in only one of the zips" % name)
                continue
            x, y = za.read(name), zb.read(name)
            if x != y:
                at = next((i for i in range(min(len(x), len(y))) if x[i] != y[i]), min(len(x), len(y)))
                print("release: %s differs (%d and %d bytes, first at offset %d)" % (name, len(x), len(y), at))
            elif (ia[name].date_time, ia[name].external_attr, ia[name].extra, ia[name].create_system) != \
                    (ib[name].date_time, ib[name].external_attr, ib[name].extra, ib[name].create_system):
                print("release: %s has the same bytes but other zip entry fields" % name)
        if [i.filename for i in za.infolist()] != [i.filename for i in zb.infolist()]:
            print("release: the entries are in another order")
    return 1


def pe_facts(data):
    """Time stamp, symbol table pointer and section names of a program."""
    pe = int.from_bytes(data[0x3C:0x40], "little")
    if data[:2] != b"MZ" or data[pe:pe + 4] != b"PE\0\0":
        raise ValueError("not a Windows program")
    header = pe + 4
    count = int.from_bytes(data[header + 2:header + 4], "little")
    stamp = int.from_bytes(data[header + 4:header + 8], "little")
    symbols = int.from_bytes(data[header + 8:header + 12], "little")
    optional = int.from_bytes(data[header + 16:header + 18], "little")
    table = header + 20 + optional
    names = [data[table + 40 * i:table + 40 * i + 8].rstrip(b"\0").decode("latin-1") for i in range(count)]
    return stamp, symbols, names


def inspect(args):
    problems = []
    with zipfile.ZipFile(args.zip) as z:
        for info in z.infolist():
            data = z.read(info.filename)
            if info.filename.endswith((".exe", ".dll")):
                stamp, symbols, names = pe_facts(data)
                # Long section names ("/4") are the debug sections' in these programs.
                debug = [n for n in names if n.startswith((".debug", "/"))]
                if debug:
                    problems.append("%s has debug sections %s" % (info.filename, ", ".join(debug)))
                if symbols:
                    problems.append("%s has a symbol table" % info.filename)
                if stamp != args.epoch:
                    problems.append("%s is stamped %d, not the commit's time %d" % (info.filename, stamp, args.epoch))
            for path in args.no_path or []:
                if path.encode() in data:
                    problems.append("%s holds the build path %s" % (info.filename, path))
            if info.date_time != zip_time(args.epoch):
                problems.append("%s has the zip time %s" % (info.filename, info.date_time))
        size = z.getinfo("k27prog.exe").file_size
        print("release: k27prog.exe is %d bytes (limit %d)" % (size, TOOL_SIZE_LIMIT))
        if size >= TOOL_SIZE_LIMIT:
            problems.append("k27prog.exe is %d bytes, not below %d" % (size, TOOL_SIZE_LIMIT))
    for p in problems:
        print("release: " + p)
    return 1 if problems else 0


def main(argv):
    parser = argparse.ArgumentParser(prog="k27release.py")
    sub = parser.add_subparsers(dest="command", required=True)
    p = sub.add_parser("version")
    p.add_argument("source")
    p = sub.add_parser("version-header")
    p.add_argument("--source", required=True)
    p.add_argument("--image", required=True)
    p.add_argument("--tool-version", default="")
    p.add_argument("--out", required=True)
    p = sub.add_parser("kit")
    for name in ("--source", "--build", "--resource", "--version", "--commit", "--out"):
        p.add_argument(name, required=True)
    p.add_argument("--epoch", type=int, required=True)
    p.add_argument("--expect-release", default="")
    p.add_argument("--sign", default="")
    p.add_argument("--password-file", default="")
    p.add_argument("--timestamp", default="")
    p.add_argument("--signatures", default="")
    p.add_argument("--attach", default="")
    p = sub.add_parser("check-signer")
    p.add_argument("--sign", required=True)
    p.add_argument("--password-file", default="")
    p = sub.add_parser("compare")
    p.add_argument("zips", nargs=2)
    p = sub.add_parser("inspect")
    p.add_argument("zip")
    p.add_argument("--epoch", type=int, required=True)
    p.add_argument("--no-path", action="append")
    args = parser.parse_args(argv)

    if args.command == "version":
        print(tool_version(args.source))
    elif args.command == "version-header":
        version_header(args.source, args.image, args.tool_version, args.out)
    elif args.command == "kit":
        try:
            kit(args)
        except k27sign.SignError as e:
            raise SystemExit("release: %s" % e)
    elif args.command == "check-signer":
        try:
            k27sign.Signer(args.sign, k27sign.read_password(args.password_file), 0).check()
        except k27sign.SignError as e:
            raise SystemExit("release: %s" % e)
    elif args.command == "compare":
        return compare(args)
    elif args.command == "inspect":
        return inspect(args)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))

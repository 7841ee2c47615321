"""Authenticode signatures of the release kit's programs, with Debian's
osslsigncode: signing with the owner's PKCS#12, detached signatures, and
attaching them to an unsigned build so that it becomes the signed kit byte
for byte (docs/release.md).

Reproducible: a signature's only moment is its signing time, and that is
the commit's (osslsigncode -time), so two signings of the same build with
the same RSA key give the same bytes. An RFC 3161 time-stamp, when a server
is named, is of the moment; the detached signatures carry it.
"""

import hashlib
import os
import subprocess
import tempfile

# The password's environment variable, when it does not come from a file.
PASSWORD_VARIABLE = "K27_SIGN_PASSWORD"
# The list of a signature folder: the commit, then one line per program.
LIST_NAME = "SIGNATURES.txt"
SIGNATURE_SUFFIX = ".p7s"


class SignError(Exception):
    pass


def programs(files):
    """The names of the kit's programs and DLLs, whichever they are."""
    return sorted(name for name, _ in files if name.lower().endswith((".exe", ".dll")))


def read_password(password_file):
    """The PKCS#12's password: the file's first line, or the environment's
    K27_SIGN_PASSWORD. Never from a command line."""
    if password_file:
        with open(password_file, "rb") as f:
            return f.read().split(b"\n")[0].rstrip(b"\r")
    if PASSWORD_VARIABLE not in os.environ:
        raise SignError("no password for the PKCS#12: give --password-file FILE or set %s" % PASSWORD_VARIABLE)
    return os.environb[PASSWORD_VARIABLE.encode()]


def _osslsigncode(args, stdin=b""):
    try:
        done = subprocess.run(["osslsigncode"] + args, input=stdin, capture_output=True)
    except OSError as e:
        raise SignError("cannot run osslsigncode (scripts/setup installs it): %s" % e)
    return done.returncode, (done.stdout + done.stderr).decode("utf-8", "replace")


class Signer:
    """Signs programs with one PKCS#12, at the commit's time, time-stamped by
    `timestamp` (an RFC 3161 URL) when one is named."""

    def __init__(self, pkcs12, password, epoch, timestamp=None):
        self.pkcs12, self.password, self.epoch, self.timestamp = pkcs12, password, epoch, timestamp

    def check(self):
        """Fails early, before a build, when the PKCS#12 does not open."""
        if not os.path.isfile(self.pkcs12):
            raise SignError("no PKCS#12 file %s" % self.pkcs12)
        with tempfile.TemporaryDirectory(prefix="k27sign-") as work:
            # Not a program: osslsigncode refuses it, but opens the PKCS#12
            # first and says so when it cannot.
            probe = os.path.join(work, "probe.exe")
            with open(probe, "wb") as f:
                f.write(b"MZ" + bytes(62))
            status, said = _osslsigncode(["sign", "-pkcs12", self.pkcs12, "-readpass", "/dev/stdin", "-in", probe,
                                          "-out", probe + ".signed"], self.password + b"\n")
            if any(s in said for s in ("PKCS#12", "Failed to read key", "Failed to read password")):
                raise SignError("cannot open %s with that password: %s" % (self.pkcs12, said.strip()))

    def sign(self, name, data):
        with tempfile.TemporaryDirectory(prefix="k27sign-") as work:
            unsigned, signed = os.path.join(work, "in"), os.path.join(work, "out")
            with open(unsigned, "wb") as f:
                f.write(data)
            args = ["sign", "-pkcs12", self.pkcs12, "-readpass", "/dev/stdin", "-h", "sha256",
                    "-time", str(self.epoch)]
            if self.timestamp:
                args += ["-ts", self.timestamp]
            status, said = _osslsigncode(args + ["-in", unsigned, "-out", signed], self.password + b"\n")
            if status != 0 or not os.path.exists(signed):
                raise SignError("cannot sign %s: %s" % (name, said.strip()))
            with open(signed, "rb") as f:
                return f.read()


def detached_signature(name, signed):
    """The signature a signed program carries (DER PKCS#7)."""
    with tempfile.TemporaryDirectory(prefix="k27sign-") as work:
        path, out = os.path.join(work, "in"), os.path.join(work, "out")
        with open(path, "wb") as f:
            f.write(signed)
        status, said = _osslsigncode(["extract-signature", "-in", path, "-out", out])
        if status != 0:
            raise SignError("cannot take the signature of %s: %s" % (name, said.strip()))
        with open(out, "rb") as f:
            return f.read()


def attach(name, unsigned, signature):
    """The unsigned program with the signature attached. osslsigncode checks
    the signature's chain against this machine's roots as it attaches, which
    says nothing here: the caller compares the result with the signed
    program's digest instead."""
    with tempfile.TemporaryDirectory(prefix="k27sign-") as work:
        path, sig, out = (os.path.join(work, n) for n in ("in", "sig", "out"))
        for p, d in ((path, unsigned), (sig, signature)):
            with open(p, "wb") as f:
                f.write(d)
        status, said = _osslsigncode(["attach-signature", "-sigin", sig, "-in", path, "-out", out])
        if not os.path.exists(out):
            raise SignError("cannot attach the signature of %s: %s" % (name, said.strip()))
        with open(out, "rb") as f:
            return f.read()


def sha256(data):
    return hashlib.sha256(data).hexdigest()


def signature_path(folder, name):
    return os.path.join(folder, *name.split("/")) + SIGNATURE_SUFFIX


def sign_files(files, signer, commit, signatures=None):
    """The kit's files with every program signed; with `signatures`, the
    detached signatures and their list written there."""
    signed = []
    listed = []
    for name, data in files:
        if name in programs(files):
            result = signer.sign(name, data)
            listed.append("%s  %s  %s" % (sha256(data), sha256(result), name))
            if signatures:
                path = signature_path(signatures, name)
                os.makedirs(os.path.dirname(path), exist_ok=True)
                with open(path, "wb") as f:
                    f.write(detached_signature(name, result))
            data = result
        signed.append((name, data))
    if signatures:
        os.makedirs(signatures, exist_ok=True)
        with open(os.path.join(signatures, LIST_NAME), "w", newline="\n") as f:
            f.write("Detached Authenticode signatures of the k27prog kit of commit %s\n" % commit)
            f.write("SHA-256 unsigned, SHA-256 signed, program\n")
            f.write("\n".join(sorted(listed)) + "\n")
    return signed


def read_list(folder):
    """The commit and {program: (unsigned digest, signed digest)} of a
    signature folder."""
    try:
        with open(os.path.join(folder, LIST_NAME)) as f:
            lines = f.read().split("\n")
    except OSError as e:
        raise SignError("no signatures in %s: %s" % (folder, e))
    commit = lines[0].rsplit(" ", 1)[-1]
    listed = {}
    for line in lines[2:]:
        if line.strip():
            unsigned, signed, name = line.split("  ", 2)
            listed[name] = (unsigned, signed)
    return commit, listed


def attach_files(files, folder, commit):
    """The unsigned kit's files with the folder's signatures attached, each
    program then exactly the signed one, or SignError naming what differs."""
    signed_for, listed = read_list(folder)
    if signed_for != commit:
        raise SignError("the signatures in %s are for commit %s, not %s" % (folder, signed_for, commit))
    names = programs(files)
    if sorted(listed) != names:
        raise SignError("the signatures in %s are for %s; this kit's programs are %s" %
                        (folder, ", ".join(sorted(listed)), ", ".join(names)))
    attached = []
    for name, data in files:
        if name in names:
            unsigned, signed = listed[name]
            if sha256(data) != unsigned:
                raise SignError("%s of this build is not the one that was signed (SHA-256 %s, signed from %s): "
                                "build with the same toolchain (docs/release.md)" % (name, sha256(data), unsigned))
            with open(signature_path(folder, name), "rb") as f:
                data = attach(name, data, f.read())
            if sha256(data) != signed:
                raise SignError("%s with its signature attached is not the signed program" % name)
        attached.append((name, data))
    return attached

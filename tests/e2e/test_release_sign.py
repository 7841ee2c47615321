"""The signed release kit (scripts/release --sign), with a throwaway root,
code-signing certificate and RFC 3161 time-stamp authority made here: every
program and DLL of the kit verifies against that root, a one-byte change
breaks that, the detached signatures attached to an unsigned build give the
signed zip byte for byte, signing without a time-stamp gives the same bytes
every time, and the kit scripts/release makes by default is unsigned.

The signed kits are made in the clone the release check built the unsigned
kit in, from the programs it built: signing builds nothing again.
(Commit before running this: the clone has only what is committed.)"""

import contextlib
import hashlib
import http.server
import os
import re
import shutil
import subprocess
import sys
import tempfile
import threading
import time
import unittest
import zipfile

from k27e2e import BUILD, REPO, make_kit, release_tree, release_zip, run_wine, unpack_release

sys.path.insert(0, os.path.join(REPO, "release"))
import k27release  # noqa: E402
import k27sign  # noqa: E402

PASSWORD = "throwaway pass phrase"
CODE_SIGNING = "basicConstraints=CA:FALSE\nkeyUsage=critical,digitalSignature\nextendedKeyUsage=codeSigning\n"
TIME_STAMPING = "basicConstraints=CA:FALSE\nkeyUsage=critical,digitalSignature\nextendedKeyUsage=critical,timeStamping\n"


def openssl(*args, cwd):
    subprocess.run(["openssl"] + list(args), cwd=cwd, check=True, capture_output=True)


def make_pki(work):
    """A root, a code-signing certificate in a PKCS#12 with a password file,
    and a time-stamping certificate under a root of its own."""
    for root in ("root", "tsa-root"):
        openssl("req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", root + ".key", "-out", root + ".pem",
                "-days", "3650", "-subj", "/CN=K27 throwaway %s" % root, "-addext",
                "basicConstraints=critical,CA:TRUE", "-addext", "keyUsage=critical,keyCertSign,cRLSign", cwd=work)
    for name, root, extensions in (("signer", "root", CODE_SIGNING), ("tsa", "tsa-root", TIME_STAMPING)):
        with open(os.path.join(work, name + ".ext"), "w") as f:
            f.write(extensions)
        openssl("req", "-newkey", "rsa:2048", "-nodes", "-keyout", name + ".key", "-out", name + ".csr", "-subj",
                "/CN=K27 throwaway %s" % name, cwd=work)
        openssl("x509", "-req", "-in", name + ".csr", "-CA", root + ".pem", "-CAkey", root + ".key",
                "-CAcreateserial", "-out", name + ".pem", "-days", "3650", "-extfile", name + ".ext", cwd=work)
    with open(os.path.join(work, "password.txt"), "w") as f:
        f.write(PASSWORD + "\n")
    openssl("pkcs12", "-export", "-inkey", "signer.key", "-in", "signer.pem", "-certfile", "root.pem", "-out",
            "signer.p12", "-passout", "file:password.txt", cwd=work)
    with open(os.path.join(work, "tsa.cnf"), "w") as f:
        f.write("[tsa]\ndefault_tsa = k27\n[k27]\ndir = %s\nserial = $dir/tsa.serial\nsigner_digest = sha256\n"
                "default_policy = 1.2.3.4.1\ndigests = sha256\naccuracy = secs:1\nordering = yes\ntsa_name = no\n"
                "ess_cert_id_alg = sha256\n" % work)
    with open(os.path.join(work, "tsa.serial"), "w") as f:
        f.write("01\n")


@contextlib.contextmanager
def time_stamp_server(work):
    """An RFC 3161 responder on this machine (openssl ts), for as long as
    the block runs; gives its URL."""
    lock = threading.Lock()

    class Responder(http.server.BaseHTTPRequestHandler):
        def do_POST(self):
            query = self.rfile.read(int(self.headers["Content-Length"]))
            with lock:
                with open(os.path.join(work, "query.tsq"), "wb") as f:
                    f.write(query)
                openssl("ts", "-reply", "-config", "tsa.cnf", "-queryfile", "query.tsq", "-signer", "tsa.pem",
                        "-inkey", "tsa.key", "-chain", "tsa-root.pem", "-out", "reply.tsr", cwd=work)
                with open(os.path.join(work, "reply.tsr"), "rb") as f:
                    reply = f.read()
            self.send_response(200)
            self.send_header("Content-Type", "application/timestamp-reply")
            self.send_header("Content-Length", str(len(reply)))
            self.end_headers()
            self.wfile.write(reply)

        def log_message(self, *args):
            pass

    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Responder)
    thread = threading.Thread(target=server.serve_forever, daemon=True)
    thread.start()
    try:
        yield "http://127.0.0.1:%d/" % server.server_address[1]
    finally:
        server.shutdown()
        server.server_close()


def verify(path, pki, time_stamped=False):
    args = ["osslsigncode", "verify", "-CAfile", os.path.join(pki, "root.pem")]
    if time_stamped:
        args += ["-TSA-CAfile", os.path.join(pki, "tsa-root.pem")]
    done = subprocess.run(args + ["-in", path], capture_output=True, text=True)
    return done.returncode, done.stdout + done.stderr


def security_directory(data):
    """The certificate table's place and size in a PE file's optional header."""
    pe = int.from_bytes(data[0x3C:0x40], "little")
    entry = pe + 24 + 112 + 4 * 8  # PE32+: data directory 4
    return int.from_bytes(data[entry:entry + 4], "little"), int.from_bytes(data[entry + 4:entry + 8], "little")


def entries(zip_path):
    with zipfile.ZipFile(zip_path) as z:
        return {name: z.read(name) for name in z.namelist()}


class SignedKitTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.work = tempfile.mkdtemp(prefix="k27release-sign-")
        cls.pki = os.path.join(cls.work, "pki")
        os.makedirs(cls.pki)
        make_pki(cls.pki)

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.work, ignore_errors=True)

    def release(self, tree, *args, env=None):
        # The programs signed are qualified elsewhere (test_release, and
        # scripts/release itself by default): signing adds a signature only.
        done = make_kit(tree, "--no-qualify", *args, env=env)
        return done.status, done.out + done.err

    def test_signed_kit_verifies_and_its_signatures_rebuild_it_byte_for_byte(self):
        clone = release_tree()
        signatures = os.path.join(self.work, "signatures")
        env = dict(os.environ, no_proxy="127.0.0.1")
        env.pop(k27sign.PASSWORD_VARIABLE, None)
        with time_stamp_server(self.pki) as url:
            status, output = self.release(clone, "--sign", os.path.join(self.pki, "signer.p12"), "--password-file",
                                          os.path.join(self.pki, "password.txt"), "--timestamp", url,
                                          "--signatures", signatures, "--out", os.path.join(self.work, "signed"),
                                          env=env)
        self.assertEqual(status, 0, output)
        self.assertNotIn(PASSWORD, output)
        signed_zip = os.path.join(self.work, "signed", "k27prog-1.1.5-1-win64.zip")
        signed = entries(signed_zip)
        programs = sorted(n for n in signed if n.endswith((".exe", ".dll")))
        # Every program of the kit was signed, and its signature kept.
        self.assertEqual(sorted(k27sign.read_list(signatures)[1]), programs)
        self.assertIn("k27prog.exe", programs)
        for name in programs:
            self.assertTrue(os.path.isfile(k27sign.signature_path(signatures, name)), name)

        # Every program verifies against the throwaway root, time-stamped.
        kit = unpack_release(signed_zip, os.path.join(self.work, "kit"))
        for name in programs:
            with self.subTest(name):
                code, said = verify(os.path.join(kit, name), self.pki, time_stamped=True)
                self.assertEqual(code, 0, said)
                self.assertIn("Signature verification: ok", said)
                self.assertIn("Timestamp Server Signature verification: ok", said)
                self.assertIn("Message digest algorithm  : SHA256", said)
        # The manifest's sums are those of the signed files.
        manifest = signed["MANIFEST.txt"].decode("utf-8")
        for name in programs:
            self.assertIn("%s  %s\r\n" % (hashlib.sha256(signed[name]).hexdigest(), name), manifest)
        self.assertIn("Signatures:        Authenticode SHA-256 on %s" % ", ".join(programs), manifest)
        self.assertIn(k27release.SIGNED_NOTE, signed["README.txt"].decode("utf-8").replace("\r\n", "\n"))
        # The same version as the unsigned kit of the same commit.
        version = k27release.tool_version(clone)
        self.assertIn("Tool version:      %s\r\n" % version, manifest)
        fields = run_wine(os.path.join(BUILD, "tests", "k27_version_query.exe"), os.path.join(kit, "k27prog.exe"))
        self.assertIn("ProductVersion=%s\n" % version, fields.out, fields)

        # One byte changed anywhere signed, and the signature no longer holds.
        for name in ("k27prog.exe", "bench-kit/k27ps.dll"):
            with self.subTest("changed " + name):
                data = bytearray(signed[name])
                data[len(data) // 3] ^= 0x01
                changed = os.path.join(self.work, os.path.basename(name))
                with open(changed, "wb") as f:
                    f.write(data)
                code, said = verify(changed, self.pki, time_stamped=True)
                self.assertNotEqual(code, 0, said)
                self.assertIn("MISMATCH", said)

        # The unsigned build of the same commit with the signatures attached:
        # the same zip, with no key or password anywhere near it.
        status, output = self.release(clone, "--attach", signatures, "--out", os.path.join(self.work, "attached"),
                                      env=env)
        self.assertEqual(status, 0, output)
        with open(signed_zip, "rb") as f, \
                open(os.path.join(self.work, "attached", "k27prog-1.1.5-1-win64.zip"), "rb") as g:
            self.assertEqual(f.read(), g.read())

    def test_signing_has_no_moment_and_the_default_kit_is_unsigned(self):
        zip_path = release_zip()
        if not zip_path or not os.path.exists(zip_path):
            if os.environ.get("K27_REQUIRE_RELEASE"):
                raise RuntimeError("no release kit to test (%s)" % zip_path)
            raise unittest.SkipTest("no release kit: run scripts/release --check --out %s/release" % BUILD)
        kit = entries(zip_path)
        programs = k27sign.programs(kit.items())
        self.assertEqual(programs, sorted(n for n in kit if n.endswith((".exe", ".dll"))))
        # What scripts/release makes by default: no program carries a signature.
        for name in programs:
            self.assertEqual(security_directory(kit[name]), (0, 0), name)
        self.assertIn("Signatures:        none\r\n", kit["MANIFEST.txt"].decode("utf-8"))
        self.assertIn(k27release.UNSIGNED_NOTE, kit["README.txt"].decode("utf-8").replace("\r\n", "\n"))

        # Signed twice with the same key, a few seconds and time zones apart:
        # the same bytes, signed at the commit's time.
        password = k27sign.read_password(os.path.join(self.pki, "password.txt"))
        signer = k27sign.Signer(os.path.join(self.pki, "signer.p12"), password, 1765229407)
        signer.check()
        first = k27sign.sign_files(list(kit.items()), signer, "c0ffee")
        old = os.environ.get("TZ")
        os.environ["TZ"] = "Pacific/Chatham"
        time.tzset()
        time.sleep(1.1)
        try:
            second = k27sign.sign_files(list(kit.items()), signer, "c0ffee")
        finally:
            os.environ.pop("TZ") if old is None else os.environ.update(TZ=old)
            time.tzset()
        self.assertEqual(first, second)
        for name, data in first:
            if name in programs:
                path = os.path.join(self.work, "once-" + os.path.basename(name))
                with open(path, "wb") as f:
                    f.write(data)
                code, said = verify(path, self.pki)
                self.assertEqual(code, 0, said)
                self.assertIn("Signing time: Dec  8 21:30:07 2025 GMT", said)
            else:
                self.assertEqual(data, kit[name], name)  # only programs are touched

    def test_wrong_password_and_foreign_signatures_are_refused(self):
        with self.assertRaisesRegex(k27sign.SignError, "cannot open .*signer.p12 with that password"):
            k27sign.Signer(os.path.join(self.pki, "signer.p12"), b"not it", 0).check()
        old = os.environ.pop(k27sign.PASSWORD_VARIABLE, None)
        try:
            with self.assertRaisesRegex(k27sign.SignError, "K27_SIGN_PASSWORD"):
                k27sign.read_password("")
            os.environ[k27sign.PASSWORD_VARIABLE] = PASSWORD
            self.assertEqual(k27sign.read_password(""), PASSWORD.encode())
        finally:
            os.environ.pop(k27sign.PASSWORD_VARIABLE, None)
            if old is not None:
                os.environ[k27sign.PASSWORD_VARIABLE] = old

        # Signatures of one build, offered to another.
        program = b"MZ" + bytes(500)
        files = [("a.exe", program), ("README.txt", b"x")]
        folder = os.path.join(self.work, "foreign")
        os.makedirs(folder)
        with open(os.path.join(folder, k27sign.LIST_NAME), "w") as f:
            f.write("Detached Authenticode signatures of the k27prog kit of commit c0ffee\nheader\n"
                    "%s  %s  a.exe\n" % ("0" * 64, "1" * 64))
        rows = [
            ("c0ffee", files, "a.exe of this build is not the one that was signed"),
            ("beef", files, "are for commit c0ffee, not beef"),
            ("c0ffee", files + [("b.dll", program)], "are for a.exe; this kit's programs are a.exe, b.dll"),
        ]
        for commit, kit, message in rows:
            with self.subTest(message):
                with self.assertRaisesRegex(k27sign.SignError, re.escape(message)):
                    k27sign.attach_files(kit, folder, commit)


if __name__ == "__main__":
    unittest.main()

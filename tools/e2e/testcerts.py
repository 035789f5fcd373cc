# tools/e2e/testcerts.py — makes test certificate authorities and server certificates.
# For loopback addresses, with openssl; puts the trusted authority into the system's trust
# store for one test run.
"""Usage:

    certs = testcerts.shared()            # made once per process, trusted authority installed
    cert, key = certs.server("127.0.0.51")                  # signed by the trusted authority
    cert, key = certs.server("127.0.0.52", trusted=False)   # signed by an authority nobody trusts
    cert, key = certs.server("127.0.0.53", name="127.0.0.54")   # trusted, but for another name
    certs.trusted.certificate                                # its ca.crt, e.g. for wget --ca-certificate

Wine's Internet library checks a server's certificate against /etc/ssl/certs, read when
a process starts, so the authority is installed before parvel.exe starts: copied to
/usr/local/share/ca-certificates/ and taken in by update-ca-certificates (root only).
It is removed when the process ends (atexit), whatever the tests did; a run that was
killed leaves it behind under the same name, and the next run replaces it.

Wine's name check matches DNS names only: a server certificate names its address both as
a DNS name and as an IP address (subjectAltName DNS:A,IP:A).
"""

import atexit
import os
import shutil
import subprocess
import tempfile

STORE_FOLDER = "/usr/local/share/ca-certificates"
STORE_NAME = "parvel-test-authority.crt"
DAYS = 7


class CertError(RuntimeError):
    pass


def _openssl(*args, cwd):
    done = subprocess.run(["openssl", *args], cwd=cwd, capture_output=True, timeout=60)
    if done.returncode != 0:
        raise CertError("openssl %s: %s" % (" ".join(args), done.stderr.decode("utf-8", "replace")))


class Authority:
    """A certificate authority of its own folder: ca.crt, ca.key and the server
    certificates it signs."""

    def __init__(self, folder, common_name):
        self.folder = folder
        os.makedirs(folder)
        self.certificate = os.path.join(folder, "ca.crt")
        self.key = os.path.join(folder, "ca.key")
        self.serial = 0
        _openssl("req", "-x509", "-newkey", "rsa:2048", "-nodes", "-sha256", "-days", str(DAYS),
                 "-keyout", self.key, "-out", self.certificate, "-subj", "/CN=" + common_name,
                 "-addext", "basicConstraints=critical,CA:TRUE",
                 "-addext", "keyUsage=critical,keyCertSign,cRLSign", cwd=folder)

    def sign(self, name):
        """A server certificate and key for the DNS name and IP address `name`."""
        self.serial += 1
        stem = os.path.join(self.folder, "%s-%d" % (name, self.serial))
        with open(stem + ".ext", "w") as f:
            f.write("subjectAltName=DNS:%s,IP:%s\nbasicConstraints=critical,CA:FALSE\n"
                    "keyUsage=critical,digitalSignature,keyEncipherment\nextendedKeyUsage=serverAuth\n"
                    % (name, name))
        _openssl("req", "-newkey", "rsa:2048", "-nodes", "-keyout", stem + ".key", "-out", stem + ".csr",
                 "-subj", "/CN=" + name, cwd=self.folder)
        _openssl("x509", "-req", "-in", stem + ".csr", "-CA", self.certificate, "-CAkey", self.key,
                 "-set_serial", str(1000 + self.serial), "-days", str(DAYS), "-sha256",
                 "-extfile", stem + ".ext", "-out", stem + ".crt", cwd=self.folder)
        return stem + ".crt", stem + ".key"


class TestCertificates:
    """The trusted authority, an untrusted one, and the server certificates made so far."""

    def __init__(self):
        self.folder = tempfile.mkdtemp(prefix="parvel-certs-")
        self.trusted = Authority(os.path.join(self.folder, "trusted"), "Parvel test authority")
        self.untrusted = Authority(os.path.join(self.folder, "untrusted"), "Parvel untrusted authority")
        self.made = {}

    def server(self, address, trusted=True, name=None):
        """(certificate file, key file) for a server on `address`, named `name` (the
        address itself unless told), signed by the trusted or the untrusted authority."""
        wanted = (address, trusted, name or address)
        if wanted not in self.made:
            self.made[wanted] = (self.trusted if trusted else self.untrusted).sign(name or address)
        return self.made[wanted]

    def remove(self):
        shutil.rmtree(self.folder, ignore_errors=True)


def can_install():
    """True when this process may change the system's trust store (root, the tool there)."""
    return os.geteuid() == 0 and shutil.which("update-ca-certificates") is not None


def _update(*args):
    done = subprocess.run(["update-ca-certificates", *args], capture_output=True, timeout=300)
    if done.returncode != 0:
        raise CertError("update-ca-certificates %s: %s" % (" ".join(args), done.stderr.decode("utf-8", "replace")))


def install(certificate):
    """Puts the authority's certificate into the system's trust store."""
    shutil.copyfile(certificate, os.path.join(STORE_FOLDER, STORE_NAME))
    _update()


def uninstall():
    """Takes the test authority out of the system's trust store, when it is there."""
    path = os.path.join(STORE_FOLDER, STORE_NAME)
    if os.path.exists(path):
        os.remove(path)
        _update("--fresh")


_shared = None


def shared():
    """The process's test certificates, made at the first call, with the trusted authority
    installed until the process ends. Raises CertError when it cannot be installed."""
    global _shared
    if _shared is None:
        if not can_install():
            raise CertError("installing a test authority needs root and update-ca-certificates")
        certs = TestCertificates()
        atexit.register(certs.remove)
        atexit.register(uninstall)
        install(certs.trusted.certificate)
        _shared = certs
    return _shared

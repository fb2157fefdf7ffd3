"""Test CA, server certificate and certificate issuing, via the openssl CLI.

1024-bit RSA throughout: that is what the terminal makes, and OpenSSL 3
only accepts it at security level 0, which is what we want to exercise.
"""

import base64
import os
import re
import subprocess
import threading

OPENSSL_TIMEOUT = 30
KEY_BITS = 1024
_EXT_LEAF = "basicConstraints=critical,CA:FALSE\n"
_EXT_SERVER = _EXT_LEAF + "subjectAltName=IP:127.0.0.1,DNS:localhost\n"


class PkiError(Exception):
    pass


def openssl(*args, stdin=None):
    """Run openssl; return stdout+stderr text, raise PkiError on failure."""
    try:
        r = subprocess.run(["openssl"] + list(args), input=stdin,
                           capture_output=True, timeout=OPENSSL_TIMEOUT)
    except (OSError, subprocess.TimeoutExpired) as e:
        raise PkiError("openssl %s: %s" % (args[0], e)) from None
    out = (r.stdout + r.stderr).decode("utf-8", "replace")
    if r.returncode != 0:
        raise PkiError("openssl %s failed: %s" % (args[0], out.strip()))
    return out


def pem_body_to_der(pem_text):
    body = re.sub(r"-----[^-]+-----", "", pem_text)
    return base64.b64decode("".join(body.split()))


class Pki:
    """Files live in one folder; certificates it signs get serials from 100."""

    def __init__(self, folder):
        self.folder = folder
        os.makedirs(os.path.join(folder, "certs"), exist_ok=True)
        self.ca_cert = os.path.join(folder, "ca.pem")
        self.ca_key = os.path.join(folder, "ca.key")
        self._lock = threading.Lock()
        self._serial = 100

    def path(self, name):
        return os.path.join(self.folder, name)

    def ensure_ca(self):
        if os.path.exists(self.ca_cert) and os.path.exists(self.ca_key):
            return
        openssl("req", "-x509", "-newkey", "rsa:%d" % KEY_BITS, "-nodes",
                "-keyout", self.ca_key, "-out", self.ca_cert,
                "-subj", "/C=JP/O=Center Simulator/CN=Center Simulator CA",
                "-days", "3650")

    def ensure_server_cert(self):
        """Server certificate for 127.0.0.1/localhost, signed by our CA."""
        cert, key = self.path("server.pem"), self.path("server.key")
        if os.path.exists(cert) and os.path.exists(key):
            return cert, key
        csr = self.path("server.csr")
        openssl("req", "-new", "-newkey", "rsa:%d" % KEY_BITS, "-nodes",
                "-keyout", key, "-out", csr, "-subj", "/CN=localhost")
        self._sign(csr, cert, 1, _EXT_SERVER)
        return cert, key

    def _ext_file(self, text):
        p = self.path("ext-%d.cnf" % threading.get_ident())
        with open(p, "w") as f:
            f.write(text)
        return p

    def _sign(self, csr, cert, serial, ext):
        extfile = self._ext_file(ext)
        try:
            openssl("x509", "-req", "-in", csr, "-CA", self.ca_cert,
                    "-CAkey", self.ca_key, "-set_serial", str(serial),
                    "-days", "3650", "-sha256", "-extfile", extfile,
                    "-out", cert)
        finally:
            os.unlink(extfile)

    def _next_serial(self):
        with self._lock:
            self._serial += 1
            return self._serial

    def sign_request(self, csr_text):
        """Certificate for a request given as Base64 text (markers optional).

        Returns (der_bytes, info). A request whose self-signature does not
        verify (an unsigned one, say) still gets a certificate for its
        public key and subject; info tells which way it went.
        """
        serial = self._next_serial()
        base = os.path.join(self.folder, "certs", "%d" % serial)
        body = re.sub(r"-----[^-]+-----", "", csr_text)
        b64 = "".join(body.split())
        try:
            base64.b64decode(b64, validate=True)
        except ValueError:
            raise PkiError("request is not Base64") from None
        csr = base + ".csr"
        with open(csr, "w") as f:
            f.write("-----BEGIN CERTIFICATE REQUEST-----\n")
            for i in range(0, len(b64), 64):
                f.write(b64[i:i + 64] + "\n")
            f.write("-----END CERTIFICATE REQUEST-----\n")
        info = {"serial": serial, "csr": csr, "cert": base + ".pem"}
        subject = openssl("req", "-in", csr, "-noout", "-subject",
                          "-nameopt", "RFC2253").strip()
        info["subject"] = subject.split("=", 1)[1] if "=" in subject else ""
        info["signature_ok"] = self._verify_request(csr)
        if info["signature_ok"]:
            self._sign(csr, info["cert"], serial, _EXT_LEAF)
        else:
            self._force_pubkey(csr, info["cert"], serial, info["subject"])
        pem = open(info["cert"]).read()
        return pem_body_to_der(pem), info

    @staticmethod
    def _verify_request(csr):
        # openssl 3.0 "req -verify" exits 0 even on a bad signature, so
        # the verdict is read from its words.
        try:
            out = openssl("req", "-in", csr, "-verify", "-noout")
        except PkiError:
            return False
        low = out.lower()
        return "failure" not in low and ("ok" in low)

    def _force_pubkey(self, csr, cert, serial, subject_rfc2253):
        pub = csr + ".pub"
        with open(pub, "w") as f:
            f.write(openssl("req", "-in", csr, "-noout", "-pubkey"))
        subj = "/" + "/".join(reversed(
            [p.strip() for p in re.split(r"(?<!\\),", subject_rfc2253)
             if p.strip()]))
        extfile = self._ext_file(_EXT_LEAF)
        try:
            openssl("x509", "-new", "-force_pubkey", pub, "-subj", subj,
                    "-CA", self.ca_cert, "-CAkey", self.ca_key,
                    "-set_serial", str(serial), "-days", "3650",
                    "-sha256", "-extfile", extfile, "-out", cert)
        finally:
            os.unlink(extfile)


def format_certificate(der, style):
    """Certificate text for the RegistTerminal reply.

    oneline: Base64 DER on one line (what the terminal cuts into lines);
    wrapped: the same cut into 64-character lines; pem: with the markers.
    """
    b64 = base64.b64encode(der).decode("ascii")
    if style == "oneline":
        return b64
    lines = "\n".join(b64[i:i + 64] for i in range(0, len(b64), 64))
    if style == "wrapped":
        return lines
    if style == "pem":
        return ("-----BEGIN CERTIFICATE-----\n%s\n-----END CERTIFICATE-----\n"
                % lines)
    raise ValueError("unknown certificate style %r" % style)

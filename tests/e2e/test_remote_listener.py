"""Remote administration on the real headless program: a password stored with `admin passwd`,
the fingerprint `admin fingerprint` prints equal to the one a TLS client sees and to the one
`status` shows, a wrong password refused, the log saying where it listens."""

import base64
import hashlib
import json
import socket
import ssl
import time
import unittest

from cryptography import x509
from cryptography.hazmat.primitives import serialization

from kvharness import SiteTestCase, TIMEOUT, free_port, wait_until

PASSWORD = "segreto-remoto"


def tls_client(port):
    context = ssl.SSLContext(ssl.PROTOCOL_TLS_CLIENT)
    context.check_hostname = False
    context.verify_mode = ssl.CERT_NONE
    context.minimum_version = ssl.TLSVersion.TLSv1_3
    raw = socket.create_connection(("127.0.0.1", port), timeout=TIMEOUT)
    return context.wrap_socket(raw)


def spki_fingerprint(der):
    spki = x509.load_der_x509_certificate(der).public_key().public_bytes(
        serialization.Encoding.DER, serialization.PublicFormat.SubjectPublicKeyInfo)
    return "SHA256:" + base64.b64encode(hashlib.sha256(spki).digest()).decode().rstrip("=")


def exchange(conn, line):
    conn.sendall(json.dumps(line).encode() + b"\n")
    data = b""
    while not data.endswith(b"\n"):
        chunk = conn.recv(65536)
        if not chunk:
            break
        data += chunk
    return json.loads(data.split(b"\n")[0]) if data else None


class RemoteListener(SiteTestCase):
    @classmethod
    def prepare(cls, site):
        cls.admin_port = free_port()
        site.db.set_options(admin_port=cls.admin_port, admin_address="127.0.0.1")
        site.kv_ok("admin", "passwd", stdin=PASSWORD + "\n")

    def test_fingerprint_is_the_one_a_client_sees(self):
        printed = self.site.kv_ok("admin", "fingerprint").stdout.decode().strip()
        self.assertTrue(printed.startswith("SHA256:"), printed)
        with tls_client(self.admin_port) as conn:
            self.assertEqual(conn.version(), "TLSv1.3")
            self.assertEqual(spki_fingerprint(conn.getpeercert(binary_form=True)), printed)
            answer = exchange(conn, {"v": 1, "op": "login", "password": PASSWORD})
            self.assertEqual(answer, {"v": 1, "ok": True, "fingerprint": printed})
            status = exchange(conn, {"v": 1, "op": "status"})
            self.assertEqual((status["adminFingerprint"], status["adminPort"]),
                             (printed, self.admin_port))
        local = self.site.kv_json("status")
        self.assertEqual((local["adminFingerprint"], local["adminPort"]), (printed, self.admin_port))
        self.assertIn(printed, self.site.kv_ok("status").stdout.decode())
        wait_until(lambda: "Amministrazione remota: accesso da 127.0.0.1" in self.site.server.stdout(),
                   "the login logged")
        self.assertIn(printed, self.site.server.stdout())  # the start said it

    def test_wrong_password_refused_after_a_delay(self):
        with tls_client(self.admin_port) as conn:
            started = time.monotonic()
            answer = exchange(conn, {"v": 1, "op": "login", "password": "no"})
            self.assertGreaterEqual(time.monotonic() - started, 0.9)
            self.assertEqual((answer["ok"], answer["code"]), (False, "denied"))
            self.assertEqual(conn.recv(100), b"")  # then closed


if __name__ == "__main__":
    unittest.main()

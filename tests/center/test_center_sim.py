"""Self-test of the center simulator: full send and receive over HTTP and
HTTPS, certificate registration, faults, and the gateway role against a
small stand-in for the terminal's own server."""

import hashlib
import http.client
import json
import os
import selectors
import shutil
import socket
import ssl
import subprocess
import sys
import tempfile
import threading
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)

from centersim import faults as faultmod  # noqa: E402
from centersim import filebody, http11, soap  # noqa: E402
from centersim.pki import Pki  # noqa: E402
from centersim.termclient import Refused, TerminalClient  # noqa: E402

SIM = os.path.join(HERE, "center_sim.py")
IDS = ["--terminal-id", "T0001", "--center-id", "C0001", "--password", "pw"]


def read_line(pipe, timeout):
    sel = selectors.DefaultSelector()
    sel.register(pipe, selectors.EVENT_READ)
    try:
        if not sel.select(timeout):
            raise AssertionError("simulator did not report its port")
        return pipe.readline()
    finally:
        sel.close()


class Sim:
    """A server-role simulator in its own process."""

    def __init__(self, *args):
        self.store = tempfile.mkdtemp(prefix="center-sim-test-")
        self.proc = subprocess.Popen(
            [sys.executable, SIM, "--store", self.store, "--quiet"]
            + list(args), stdout=subprocess.PIPE, stdin=subprocess.DEVNULL)
        try:
            self.info = json.loads(read_line(self.proc.stdout, 15))
        except Exception:
            self.stop()
            raise
        self.port = self.info["port"]

    def control(self, method, path, body=None):
        conn = http.client.HTTPConnection("127.0.0.1",
                                          self.info["control_port"], timeout=10)
        try:
            conn.request(method, path,
                         body=json.dumps(body) if body is not None else None)
            reply = conn.getresponse()
            return reply.status, json.loads(reply.read())
        finally:
            conn.close()

    def log(self):
        return self.control("GET", "/_log")[1]

    def client(self, **kw):
        args = dict(terminal_id="T0001", center_id="C0001", password="pw",
                    tls=self.info["tls"])
        args.update(kw)
        return TerminalClient(self.port, **args)

    def stop(self):
        if self.proc.poll() is None:
            self.proc.terminate()
            try:
                self.proc.wait(5)
            except subprocess.TimeoutExpired:
                self.proc.kill()
                self.proc.wait(5)
        self.proc.stdout.close()
        shutil.rmtree(self.store, ignore_errors=True)


class SimCase(unittest.TestCase):
    sim_args = ()

    def setUp(self):
        self.sim = Sim(*(IDS + list(self.sim_args)))
        self.addCleanup(self.sim.stop)

    def stage(self, name, data):
        with open(os.path.join(self.sim.store, "outbox", name), "wb") as f:
            f.write(data)


class SendReceiveTests(SimCase):
    def check_send(self, compress):
        data = os.urandom(3000) + b"tail"
        c = self.sim.client()
        auth, put, report = c.send(data, compress=compress, record_length=10)
        c.close()
        self.assertEqual(auth.get("ResultCode"), "0")
        self.assertTrue(auth.get("Header", "SessionID"))
        self.assertTrue(auth.get("FileRecord", "FileLoadNo"))
        self.assertEqual(report.get("ResultCode"), "0")
        conv = self.sim.log()[-1]
        self.assertEqual(conv["result_codes"],
                         {"auth": 0, "file": 0, "report": 0})
        self.assertEqual(len({e["headers"][0][1] for e in conv["exchanges"][1:]}),
                         1, "the cookie is repeated verbatim")
        stored = conv["stored"]
        self.assertEqual(stored["md5"], hashlib.md5(data).hexdigest())
        self.assertEqual(stored["compress_flag"], "1" if compress else "0")
        with open(stored["path"], "rb") as f:
            self.assertEqual(f.read(), data)
        for e in conv["exchanges"]:
            self.assertEqual(e["warnings"], [])
        self.assertEqual({e["connection"] for e in [conv]}, {1})

    def check_receive(self, compress):
        data = b"line of a delivered file\n" * 200
        self.stage("deliver1.txt", data)
        c = self.sim.client()
        got, auth, reply = c.receive()
        self.assertEqual(got, data)
        # The terminal finds Entity by looking at the first and the last
        # 2047 bytes of the reply only.
        raw = c.replies[1].body
        start = raw.find(b"<Entity>")
        self.assertTrue(0 <= start < 2047 - len(b"<Entity>"))
        after = start + len(b"<Entity>")
        window = raw[after:] if len(raw) < 2048 else raw[max(after, len(raw) - 2047):]
        self.assertEqual(window.find(b"</"), window.find(b"</Entity>"))
        self.assertEqual(auth.get("FileRecord", "DataFileName"),
                         "deliver1.txt")
        self.assertEqual(reply.get("File", "CompressFlag"),
                         "1" if compress else "0")
        self.assertEqual(reply.get("File", "RecordNumber"), str(len(data)))
        conv = self.sim.log()[-1]
        self.assertTrue(conv["delivered"]["accepted"])
        self.assertTrue(os.path.exists(os.path.join(
            self.sim.store, "sent", "deliver1.txt")))
        with self.assertRaises(Refused) as cm:
            self.sim.client().receive()
        self.assertEqual(cm.exception.code, 32)


class PlainHttpTests(SendReceiveTests):
    def test_send(self):
        self.check_send(compress=False)

    def test_send_compressed(self):
        self.check_send(compress=True)

    def test_receive(self):
        self.check_receive(compress=False)

    def test_wrong_password_gives_15(self):
        with self.assertRaises(Refused) as cm:
            self.sim.client(password="nope").send(b"x")
        self.assertEqual(cm.exception.code, 15)

    def test_doctype_is_refused(self):
        c = self.sim.client()
        body = (b'<!DOCTYPE x [<!ENTITY e SYSTEM "file:///etc/hostname">]>'
                + soap.build("RequestAuthentication", [
                    ("Header", [("SessionID", soap.Raw("&e;"))])]))
        reply = soap.read_message(c.post("/putfile", body).body)
        c.close()
        self.assertEqual(reply.get("ResultCode"), "10")

    def test_element_names_in_any_case(self):
        c = self.sim.client()
        body = soap.build("requestauthentication", [
            ("HEADER", [("terminalid", "T0001"),
                        ("TARGETTERMINALID", "C0001")]),
            ("authenticate", [("PASSWORD", "pw")])]).replace(
            b"SOAP-ENV:Body", b"soap-env:body")
        reply = c.post("/putfile", body)
        c.close()
        self.assertEqual(soap.read_message(reply.body).get("ResultCode"), "0")
        self.assertIsNotNone(reply.cookie())

    def test_wrong_cookie_gives_10(self):
        c = self.sim.client()
        c.authenticate("/putfile")
        c.cookie = c.cookie + "x"
        reply = c.request("/putfile", "ReportStatus")
        c.close()
        self.assertEqual(reply.get("ResultCode"), "10")

    def test_upper_case_md5_is_refused(self):
        c = self.sim.client()
        c.authenticate("/putfile")
        items = filebody.file_items(b"abc", -1, False)
        items[5] = ("MD5", items[5][1].upper())
        reply = c.request("/putfile", "PutFile", [("File", items)])
        c.close()
        self.assertEqual(reply.get("ResultCode"), "51")


class CompressedDeliveryTests(SendReceiveTests):
    sim_args = ("--compress", "1")

    def test_receive_compressed(self):
        self.check_receive(compress=True)


class HttpsTests(SendReceiveTests):
    sim_args = ("--tls",)

    def test_send(self):
        self.check_send(compress=True)

    def test_receive(self):
        self.check_receive(compress=False)

    def test_regist_returns_a_certificate_for_the_request(self):
        work = tempfile.mkdtemp()
        self.addCleanup(shutil.rmtree, work)
        csr = os.path.join(work, "t.csr")
        subprocess.run(["openssl", "req", "-new", "-newkey", "rsa:1024",
                        "-nodes", "-keyout", os.path.join(work, "t.key"),
                        "-subj", "/C=JP/O=QRT/CN=T0001", "-out", csr],
                       check=True, capture_output=True, timeout=30)
        with open(csr) as f:
            text = f.read()
        body = text.split("-----BEGIN CERTIFICATE REQUEST-----")[1]
        body = body.split("-----END CERTIFICATE REQUEST-----")[0].lstrip("\n")
        reply = self.sim.client().regist(body)
        self.assertEqual(reply.method, "RegistTerminalResponse")
        self.assertEqual(reply.get("ResultCode"), "0")
        cert = reply.get("Certificate")
        self.assertNotIn("\n", cert)
        pem = os.path.join(work, "t.pem")
        with open(pem, "w") as f:
            f.write("-----BEGIN CERTIFICATE-----\n")
            f.write("\n".join(cert[i:i + 64] for i in range(0, len(cert), 64)))
            f.write("\n-----END CERTIFICATE-----\n")
        out = subprocess.run(["openssl", "verify", "-CAfile",
                              self.sim.info["ca_cert"], pem],
                             capture_output=True, text=True, timeout=30)
        self.assertIn("OK", out.stdout)
        self.assertTrue(self.sim.log()[-1]["regist"]["signature_ok"])


class FaultTests(SimCase):
    sim_args = ("--fault", "bad-md5*1")

    def test_bad_md5_then_clean_after_it_is_spent(self):
        self.stage("a.dat", b"payload" * 10)
        with self.assertRaises(Refused) as cm:
            self.sim.client().receive()
        self.assertIn("MD5", cm.exception.stage)
        got, _, _ = self.sim.client().receive()
        self.assertEqual(got, b"payload" * 10)

    def test_faults_switched_at_run_time(self):
        status, _ = self.sim.control("POST", "/_control",
                                     {"fault": ["truncate@auth*1"]})
        self.assertEqual(status, 200)
        with self.assertRaises(http11.HttpError):
            self.sim.client().send(b"data")
        self.sim.client().send(b"data")
        status, _ = self.sim.control("POST", "/_control",
                                     {"fault": "result=33@auth"})
        with self.assertRaises(Refused) as cm:
            self.sim.client().send(b"data")
        self.assertEqual(cm.exception.code, 33)

    def raw_reply(self, fault):
        self.sim.control("POST", "/_control", {"fault": fault})
        body = soap.build("RequestAuthentication", [])
        s = socket.create_connection(("127.0.0.1", self.sim.port), 10)
        try:
            s.sendall(http11.build("POST /putfile HTTP/1.1",
                                   [("Host", "127.0.0.1")], body))
            data = b""
            while True:
                chunk = s.recv(65536)
                if not chunk:
                    return data
                data += chunk
        finally:
            s.close()

    def test_transport_faults(self):
        self.assertFalse(self.raw_reply("garbage").startswith(b"HTTP/"))
        self.assertNotIn(b"Content-Length", self.raw_reply("no-length"))
        self.assertIn(b"Connection: close", self.raw_reply("close"))
        self.assertEqual(self.raw_reply("drop"), b"")


class FaultRuleTests(unittest.TestCase):
    def test_rule_text(self):
        r = faultmod.parse("result=32@file*2", faultmod.SERVER_FAULTS)
        self.assertEqual((r.name, r.arg, r.stage, r.count, r.text),
                         ("result", "32", "file", 2, "result=32@file*2"))
        with self.assertRaises(faultmod.FaultError):
            faultmod.parse("result", faultmod.SERVER_FAULTS)
        with self.assertRaises(faultmod.FaultError):
            faultmod.parse("slow@never", faultmod.SERVER_FAULTS)

    def test_count_is_spent(self):
        fs = faultmod.FaultSet(faultmod.SERVER_FAULTS, ["bad-md5*1"])
        self.assertEqual(fs.take("RequestAuthentication"), [])
        self.assertEqual(len(fs.take("GetFile")), 1)
        self.assertEqual(fs.take("GetFile"), [])


class FakeTerminal:
    """Stands in for the terminal's own server: one connection, three
    exchanges, refusals in its style (cookie checks give 10)."""

    def __init__(self, staged, tls_ctx=None):
        self.staged = staged
        self.tls_ctx = tls_ctx
        self.received = None
        self.codes = []
        self.bodies = []
        self.lsock = socket.socket()
        self.lsock.bind(("127.0.0.1", 0))
        self.lsock.listen(1)
        self.lsock.settimeout(15)
        self.port = self.lsock.getsockname()[1]
        self.thread = threading.Thread(target=self.run, daemon=True)
        self.thread.start()

    def run(self):
        try:
            sock, _ = self.lsock.accept()
            if self.tls_ctx:
                sock.settimeout(10)
                sock = self.tls_ctx.wrap_socket(sock, server_side=True)
        except OSError:
            self.lsock.close()
            return
        ch = http11.Channel(sock)
        session = None
        try:
            for _ in range(3):
                req = ch.read_message(10, 10, 1 << 26)
                if req is None:
                    break
                self.bodies.append(req.body)
                try:
                    msg = soap.read_message(req.body)
                except soap.SoapError:
                    self.codes.append(("?", "10"))
                    ch.send(http11.build("HTTP/1.1 200 OK", [], soap.build(
                        "RequestAuthenticationResponse",
                        [("ResultCode", "10")])))
                    break
                c = req.cookie()
                ok = (msg.method == "RequestAuthentication"
                      or (c and c[1] and c[1] == session))
                method, items, headers = self.answer(msg, ok)
                if msg.method == "RequestAuthentication":
                    session = soap.now_long()
                    headers = [("Set-Cookie", "ZORVANTIKE=" + session)]
                elif c:
                    headers = [("Cookie", "ZORVANTIKE=%s" % c[1])]
                ch.send(http11.build("HTTP/1.1 200 OK", headers + [
                    ("Pragma", "no-cache"), ("Connection", "Keep-Alive")],
                    soap.build(method, items)))
        except http11.HttpError:
            pass
        finally:
            ch.close()
            self.lsock.close()

    def answer(self, msg, ok):
        code = "0" if ok else "10"
        self.codes.append((msg.method, code))
        if msg.method == "GetFile" and ok:
            return "GetFileResponse", [
                ("ResultCode", "0"),
                ("File", filebody.file_items(self.staged, 100, True))], []
        if msg.method == "PutFile" and ok:
            info = filebody.read_fields(lambda n: msg.get("File", n))
            rc, _, data = filebody.decode(info, msg.get("File", "Entity"))
            self.received = data
            return "PutFileResponse", [("ResultCode", str(rc))], []
        return msg.method + "Response", [("ResultCode", code)], []


def tls_server_context(folder):
    pki = Pki(folder)
    pki.ensure_ca()
    cert, key = pki.ensure_server_cert()
    ctx = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    ctx.set_ciphers("ALL:@SECLEVEL=0")
    ctx.load_cert_chain(cert, key)
    return ctx, pki.ca_cert


class GatewayTests(unittest.TestCase):
    def run_gateway(self, term, *args):
        out = subprocess.run(
            [sys.executable, SIM, "gateway", "--port", str(term.port),
             "--terminal-id", "T0001", "--center-id", "C0001"] + list(args),
            capture_output=True, text=True, timeout=60)
        term.thread.join(10)
        return out.returncode, json.loads(out.stdout)

    def test_fetch(self):
        data = b"staged for the center\n" * 300
        term = FakeTerminal(data)
        out = os.path.join(tempfile.mkdtemp(), "fetched.dat")
        self.addCleanup(shutil.rmtree, os.path.dirname(out))
        rc, summary = self.run_gateway(term, "--mode", "fetch", "--out", out)
        self.assertEqual(rc, 0, summary)
        self.assertEqual(summary["results"], {"auth": 0, "file": 0,
                                              "report": 0})
        with open(out, "rb") as f:
            self.assertEqual(f.read(), data)
        self.assertEqual(summary["md5"], hashlib.md5(data).hexdigest())

    def test_deliver(self):
        term = FakeTerminal(b"")
        rc, summary = self.run_gateway(term, "--mode", "deliver",
                                       "--data", "delivered text",
                                       "--compress", "1")
        self.assertEqual(rc, 0, summary)
        self.assertEqual(term.received, b"delivered text")

    def test_fetch_over_tls_with_a_verified_certificate(self):
        work = tempfile.mkdtemp()
        self.addCleanup(shutil.rmtree, work)
        ctx, ca = tls_server_context(work)
        term = FakeTerminal(b"secret", ctx)
        rc, summary = self.run_gateway(term, "--mode", "fetch", "--tls",
                                       "--ca", ca, "--out",
                                       os.path.join(work, "f"))
        self.assertEqual(rc, 0, summary)

    def test_late_entity_starts_beyond_the_look_ahead(self):
        term = FakeTerminal(b"")
        rc, summary = self.run_gateway(term, "--mode", "deliver", "--data",
                                       "x", "--fault", "late-entity")
        self.assertGreater(term.bodies[1].find(b"<Entity>"), 2047)
        self.assertEqual(rc, 0, summary)

    def test_doctype_is_sent_and_refused(self):
        term = FakeTerminal(b"")
        rc, summary = self.run_gateway(term, "--mode", "fetch",
                                       "--fault", "doctype")
        self.assertIn(b"<!DOCTYPE", term.bodies[0])
        self.assertEqual((rc, summary["results"]["auth"]), (1, 10))

    def test_empty_cookie_is_refused(self):
        term = FakeTerminal(b"x")
        rc, summary = self.run_gateway(term, "--mode", "fetch",
                                       "--fault", "empty-cookie@file")
        self.assertEqual(rc, 1)
        self.assertEqual(summary["results"]["file"], 10)


if __name__ == "__main__":
    unittest.main()

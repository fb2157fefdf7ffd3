"""Server role: the center that the terminal posts to.

/putfile and /getfile carry RequestAuthentication, PutFile or GetFile,
and ReportStatus; /regist carries RegistTerminal. Paths starting with
"/_" are the control interface and never misbehave.
"""

import json
import os
import socket
import ssl
import sys
import threading
import time
import warnings

from . import faults as faultmod
from . import filebody
from . import http11
from . import soap
from .pki import PkiError, format_certificate

DEFAULTS = {
    "host": "127.0.0.1",
    "port": 0,
    "control_port": 0,
    "tls": False,
    "cert": None,
    "key": None,
    "client_cert": "none",
    "store": None,
    "pki": None,
    "deliver": None,
    "terminal_id": None,
    "center_id": None,
    "password": None,
    "kinds": [],
    "compress": 0,
    "record_length": -1,
    "load_no": None,
    "record_key": None,
    "data_file_name": None,
    "no_file_at": "file",
    "regist_cert_format": "oneline",
    "cookie_name": "ZORVANTIKE",
    "cookie_suffix": "",
    "namespace": soap.MSG_NS,
    "fault": [],
    "slow_seconds": 5.0,
    "silent_seconds": 120.0,
    "idle_timeout": 120.0,
    "read_timeout": 60.0,
    "max_body": 512 * 1024 * 1024,
    "quiet": False,
}

# Settings a test may change while the simulator runs.
RUNTIME_KEYS = {
    "deliver", "terminal_id", "center_id", "password", "kinds", "compress",
    "record_length", "load_no", "record_key", "data_file_name",
    "no_file_at", "regist_cert_format", "cookie_name", "cookie_suffix",
    "slow_seconds", "silent_seconds", "quiet",
}

MAX_LOG = 1000


def target_kind(target):
    t = target.lower()
    if "regist" in t:
        return "regist"
    if "putfile" in t:
        return "putfile"
    if "getfile" in t:
        return "getfile"
    return None


def header_notes(req):
    """Departures from how the terminal frames its requests."""
    notes = []
    names = [n for n, _ in req.headers]
    lower = [n.lower() for n in names]
    if "host" not in lower:
        notes.append("no Host header")
    else:
        host = req.header("Host")
        if host != host.upper():
            notes.append("Host not upper case")
    if "port" not in names:
        notes.append('no "port" header')
    if "pragma" not in lower:
        notes.append("no Pragma header")
    if "connection" not in lower and "proxy-connection" not in lower:
        notes.append("no Connection header")
    if req.header("Content-Type") is not None:
        notes.append("Content-Type sent")
    return notes


class Answer:
    """A SOAP reply to send: method element, its items, HTTP headers."""

    def __init__(self, method, items, code, headers=(), note=""):
        self.method = method
        self.items = items
        self.code = code
        self.headers = list(headers)
        self.note = note


class Conversation:
    def __init__(self, cid, kind, target, conn):
        self.id = cid
        self.kind = kind
        self.item = None
        self.kind_def = {}
        self.session = None
        self.started = time.time()
        self.log = {
            "id": cid, "kind": kind, "target": target,
            "peer": conn.peer, "connection": conn.id, "tls": conn.tls,
            "client_cert": conn.client_cert,
            "cookie": None, "session_id": None,
            "file_load_no": None, "file_record_key": None,
            "auth": None, "result_codes": {}, "exchanges": [],
            "stored": None, "delivered": None, "report_code": None,
            "regist": None, "done": False,
        }

    def finish(self):
        self.log["done"] = True


class ConnInfo:
    def __init__(self, cid, peer, tls, client_cert):
        self.id = cid
        self.peer = peer
        self.tls = tls
        self.client_cert = client_cert


class CenterServer:
    def __init__(self, cfg, store, pki):
        self.cfg = cfg
        self.store = store
        self.pki = pki
        self.stop = threading.Event()
        self.lock = threading.Lock()
        self.faults = faultmod.FaultSet(faultmod.SERVER_FAULTS, cfg["fault"])
        self.sessions = {}
        self.conversations = []
        self.seq = 0
        self.conn_seq = 0
        self.run_stamp = soap.now_stamp()
        self.tls_ctx = None
        self.server_cert = None
        self.server_key = None
        self.listeners = []
        self.threads = []
        self.channels = set()

    # ----- start and stop

    def setup_tls(self):
        cert, key = self.cfg["cert"], self.cfg["key"]
        if not cert or not key:
            cert, key = self.pki.ensure_server_cert()
        self.server_cert, self.server_key = cert, key
        ctx = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        # 1024-bit keys and TLS 1.0 only pass at security level 0; the
        # cipher string must be set before the certificate is loaded.
        ctx.set_ciphers("ALL:@SECLEVEL=0")
        with warnings.catch_warnings():
            warnings.simplefilter("ignore", DeprecationWarning)
            ctx.minimum_version = ssl.TLSVersion.TLSv1
        ctx.load_cert_chain(cert, key)
        mode = self.cfg["client_cert"]
        if mode in ("optional", "required"):
            ctx.load_verify_locations(self.pki.ca_cert)
            ctx.verify_mode = (ssl.CERT_OPTIONAL if mode == "optional"
                               else ssl.CERT_REQUIRED)
        self.tls_ctx = ctx

    def listen(self, port, control_only):
        s = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
        s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        s.bind((self.cfg["host"], port))
        s.listen(64)
        s.settimeout(http11.SLICE)
        t = threading.Thread(target=self._accept_loop,
                             args=(s, control_only), daemon=True)
        self.listeners.append(s)
        self.threads.append(t)
        t.start()
        return s.getsockname()[1]

    def shutdown(self):
        self.stop.set()
        for s in self.listeners:
            try:
                s.shutdown(socket.SHUT_RDWR)  # wakes accept() at once
            except OSError:
                pass
            s.close()
        with self.lock:
            channels = list(self.channels)
        for ch in channels:
            ch.close()
        for t in self.threads:
            t.join(2)

    def _accept_loop(self, lsock, control_only):
        while not self.stop.is_set():
            try:
                sock, addr = lsock.accept()
            except socket.timeout:
                continue
            except OSError:
                if self.stop.is_set():
                    return
                time.sleep(0.05)
                continue
            t = threading.Thread(target=self._serve,
                                 args=(sock, addr, control_only), daemon=True)
            t.start()

    # ----- one connection

    def _serve(self, sock, addr, control_only):
        tls = self.tls_ctx is not None and not control_only
        client_cert = None
        if tls:
            try:
                sock.settimeout(30)
                sock = self.tls_ctx.wrap_socket(sock, server_side=True)
            except (OSError, ssl.SSLError) as e:
                self.note("TLS handshake from %s:%d failed: %s"
                          % (addr[0], addr[1], e))
                sock.close()
                return
            peer_cert = sock.getpeercert()
            if peer_cert:
                client_cert = ",".join("%s=%s" % kv for rdn in
                                       peer_cert.get("subject", ())
                                       for kv in rdn)
        ch = http11.Channel(sock, self.stop)
        with self.lock:
            self.conn_seq += 1
            info = ConnInfo(self.conn_seq, "%s:%d" % addr, tls, client_cert)
            self.channels.add(ch)
        try:
            self._exchange_loop(ch, info, control_only)
        finally:
            with self.lock:
                self.channels.discard(ch)
            ch.close()

    def _exchange_loop(self, ch, info, control_only):
        while not self.stop.is_set():
            try:
                req = ch.read_message(self.cfg["idle_timeout"],
                                      self.cfg["read_timeout"],
                                      self.cfg["max_body"])
            except http11.Closed:
                return
            except http11.Timeout:
                self.note("conn %d: read timed out" % info.id)
                return
            except http11.HttpError as e:
                self.note("conn %d: %s" % (info.id, e))
                self._send_plain(ch, "HTTP/1.1 400 Bad Request", str(e), True)
                return
            if req is None:
                return
            if req.target.startswith("/_"):
                close = self._control(ch, req, info)
            elif control_only:
                close = self._send_plain(ch, "HTTP/1.1 404 Not Found",
                                         "control port", False)
            else:
                close = self._soap(ch, req, info)
            if close or req.wants_close():
                return

    def _send_plain(self, ch, status, text, close):
        body = (text + "\n").encode("utf-8")
        data = http11.build(status, [
            ("Content-Type", "text/plain; charset=utf-8"),
            ("Connection", "close" if close else "keep-alive")], body)
        try:
            ch.send(data)
        except http11.HttpError:
            return True
        return close

    # ----- SOAP exchanges

    def _soap(self, ch, req, info):
        if req.method.upper() != "POST":
            return self._send_plain(ch, "HTTP/1.1 405 Method Not Allowed",
                                    "POST only", False)
        kind = target_kind(req.target)
        notes = header_notes(req)
        rules = []
        with self.lock:
            try:
                msg = soap.read_message(req.body, self.cfg["namespace"])
            except soap.SoapError as e:
                conv = self._new_conversation(kind or "other", req.target,
                                              info)
                answer = self._refuse_auth(conv, 10, None, "unreadable: %s" % e)
                method, msg = "?", None
            else:
                notes += msg.warnings
                method = msg.method
                rules = self.faults.take(method)
                conv, answer = self._dispatch(req, msg, kind, info, rules)
            self._record(conv, req, msg, answer, notes, rules)
            body = soap.build(answer.method, answer.items,
                              self.cfg["namespace"])
        self.note("conn %d %s %s -> %s %s%s%s" % (
            info.id, req.target, method, answer.method, answer.code,
            " (%s)" % answer.note if answer.note else "",
            " faults=%s" % ",".join(r.text for r in rules) if rules else ""))
        return self._send_reply(ch, answer.headers, body, rules,
                                req.wants_close())

    def _dispatch(self, req, msg, kind, info, rules):
        forced = faultmod.first(rules, "result")
        forced = int(forced.arg) if forced else None
        handler = {
            "RequestAuthentication": self._on_auth,
            "PutFile": self._on_putfile,
            "GetFile": self._on_getfile,
            "ReportStatus": self._on_report,
            "RegistTerminal": self._on_regist,
        }.get(msg.method)
        if handler is None:
            conv = self._new_conversation(kind or "other", req.target, info)
            return conv, self._refuse_auth(conv, 10, None,
                                           "unknown method %s" % msg.method)
        return handler(req, msg, kind, info, forced, rules)

    def _record(self, conv, req, msg, answer, notes, rules):
        method = msg.method if msg else "?"
        stage = faultmod.STAGE_OF_METHOD.get(method, "other")
        rr = None
        if msg and method in ("PutFile", "GetFile", "ReportStatus"):
            rr = msg.get("ResultCode")
        conv.log["result_codes"][stage] = answer.code
        conv.log["exchanges"].append({
            "method": method, "target": req.target, "time": soap.now_long(),
            "request_line": req.start_line,
            "headers": [[n, v] for n, v in req.headers],
            "request_result": rr, "reply": answer.method,
            "result": answer.code, "reason": answer.note, "warnings": notes,
            "faults": [r.text for r in rules],
        })

    def _new_conversation(self, kind, target, info):
        self.seq += 1
        conv = Conversation(self.seq, kind, target, info)
        self.conversations.append(conv)
        if len(self.conversations) > MAX_LOG:
            del self.conversations[0]
        return conv

    def _header(self, conv, session_id=""):
        a = conv.log["auth"] or {}
        center = self.cfg["center_id"] or a.get("target_terminal_id", "")
        return [("Time", soap.now_long()), ("TerminalID", center),
                ("TargetTerminalID", a.get("terminal_id", "")),
                ("SessionID", session_id)]

    def _refuse_auth(self, conv, code, forced, note):
        code = forced if forced is not None else code
        conv.finish()
        return Answer("RequestAuthenticationResponse", [
            ("ResultCode", str(code)), ("Header", self._header(conv)),
            ("FileRecord", [("DataFileName", ""), ("FileLoadNo", ""),
                            ("FileRecordKey", "")])], code, note=note)

    # -- RequestAuthentication

    def _read_auth(self, msg):
        g = msg.get
        return {
            "time": g("Header", "Time"),
            "terminal_id": g("Header", "TerminalID"),
            "target_terminal_id": g("Header", "TargetTerminalID"),
            "session_id": g("Header", "SessionID"),
            "password": g("Authenticate", "Password"),
            "protocol_version": g("Authenticate", "ProtocolVersion"),
            "service_no": g("Authenticate", "ServiceNo"),
            "protocol_file_name": g("FileInfo", "ProtocolFileName"),
            "access_key": g("FileInfo", "AccessKey"),
            "resend_flag": g("FileInfo", "ResendFlag"),
            "data_file_name": g("FileRecord", "DataFileName"),
            "file_load_no": g("FileRecord", "FileLoadNo"),
            "file_record_key": g("FileRecord", "FileRecordKey"),
        }

    def _match_kind(self, a):
        """(code, kind definition); no kinds configured accepts anything."""
        kinds = self.cfg["kinds"] or []
        if not kinds:
            return 0, {}
        same = [k for k in kinds
                if str(k.get("protocol_file_name", "")) ==
                a["protocol_file_name"]]
        if not same:
            return 30, None
        same = [k for k in same
                if str(k.get("access_key", "")) == a["access_key"]]
        if not same:
            return 31, None
        sn = soap.number(a["service_no"])
        same = [k for k in same
                if "service_no" not in k or soap.number(str(k["service_no"]))
                == sn]
        if not same:
            return 11, None
        return 0, same[0]

    def _check_ids(self, a):
        c = self.cfg
        if c["password"] is not None and a["password"] != c["password"]:
            return 15
        if c["terminal_id"] is not None and a["terminal_id"] != c["terminal_id"]:
            return 12
        if c["center_id"] is not None and \
                a["target_terminal_id"] != c["center_id"]:
            return 13
        return 0

    def _on_auth(self, req, msg, kind, info, forced, rules):
        conv = self._new_conversation(kind or "other", req.target, info)
        a = self._read_auth(msg)
        conv.log["auth"] = a
        if kind not in ("putfile", "getfile"):
            return conv, self._refuse_auth(conv, 10, forced,
                                           "target names no transfer")
        code, kdef = self._match_kind(a)
        code = code or self._check_ids(a)
        if code:
            return conv, self._refuse_auth(conv, code, forced, "checks")
        conv.kind_def = kdef or {}
        self._abandon_earlier(conv, a["terminal_id"])
        name = a["data_file_name"]
        if kind == "getfile":
            conv.item = self.store.reserve(a["protocol_file_name"],
                                           self.cfg["deliver"])
            if conv.item is None and self.cfg["no_file_at"] == "auth":
                return conv, self._refuse_auth(conv, 32, forced, "no file")
            name = conv.item.name if conv.item else ""
        if self.cfg["data_file_name"] is not None:
            name = self.cfg["data_file_name"]
        if forced is not None and forced != 0:
            self.store.release(conv.item, False)
            return conv, self._refuse_auth(conv, forced, None, "forced")
        return conv, self._open_session(conv, name)

    def _abandon_earlier(self, conv, terminal_id):
        # A terminal that authenticates again has given up on whatever it
        # left unfinished; free the files that were held for it.
        for value, old in list(self.sessions.items()):
            a = old.log["auth"] or {}
            if old.kind == conv.kind and a.get("terminal_id") == terminal_id:
                self.store.release(old.item, False)
                old.item = None
                old.log["abandoned"] = True
                old.finish()
                del self.sessions[value]

    def _open_session(self, conv, data_file_name):
        n = conv.id
        conv.session = "%04d %s" % (n, soap.now_long())
        session_id = "%s%04d" % (self.run_stamp, n)
        load_no = self.cfg["load_no"]
        if load_no is None:
            load_no = "%s%04d" % (self.run_stamp, n)
        record_key = self.cfg["record_key"]
        if record_key is None:
            record_key = "RK%s%04d" % (self.run_stamp[-6:], n)
        self.sessions[conv.session] = conv
        conv.log.update(cookie=conv.session, session_id=session_id,
                        file_load_no=load_no, file_record_key=record_key,
                        data_file_name=data_file_name)
        cookie = "%s=%s%s" % (self.cfg["cookie_name"], conv.session,
                              self.cfg["cookie_suffix"])
        return Answer("RequestAuthenticationResponse", [
            ("ResultCode", "0"), ("Header", self._header(conv, session_id)),
            ("FileRecord", [("DataFileName", data_file_name),
                            ("FileLoadNo", load_no),
                            ("FileRecordKey", record_key)])],
            0, headers=[("Set-Cookie", cookie)])

    # -- the requests that follow authentication

    def _session_of(self, req, info, kind, want_kind):
        """(conversation, refusal code or 0, note) for a cookie-bound request."""
        c = req.cookie()
        conv = None
        code, note = 0, ""
        if c is None:
            code, note = 10, "no cookie"
        elif c[1] is None:
            code, note = 10, "cookie without ="
        else:
            conv = self.sessions.get(c[1])
            if conv is None:
                code, note = 10, "unknown session %r" % c[1]
            elif want_kind and conv.kind != want_kind:
                code, note = 10, "%s conversation" % conv.kind
        if conv is None:
            conv = self._new_conversation(kind or "other", req.target, info)
            conv.log["cookie_sent"] = c[1] if c else None
            conv.finish()
        elif c[0] != self.cfg["cookie_name"]:
            note = "cookie named %r" % c[0]
        return conv, code, note

    def _session_id(self, conv):
        return conv.log["session_id"] or ""

    def _on_putfile(self, req, msg, kind, info, forced, rules):
        conv, code, note = self._session_of(req, info, kind, "putfile")
        rr = msg.get("ResultCode")
        if code == 0:
            if soap.number(rr):
                # The terminal gives up and says why; nothing to store.
                conv.log["aborted"] = soap.number(rr)
                note = "terminal reported %s" % rr
                self._end_session(conv, False)
            else:
                code, note = self._receive_file(conv, msg)
        if forced is not None:
            code = forced
        return conv, Answer("PutFileResponse", [
            ("ResultCode", str(code)),
            ("Header", self._header(conv, self._session_id(conv)))],
            code, note=note)

    def _receive_file(self, conv, msg):
        entity = msg.get("File", "Entity")
        info = filebody.read_fields(lambda name: msg.get("File", name))
        info.update(entity_chars=len(entity), path=None, name=None, error=None)
        conv.log["stored"] = info
        code, why, data = filebody.decode(info, entity)
        if code:
            info["error"] = why
            return code, why
        a = conv.log["auth"]
        name = a["data_file_name"] or \
            (a["protocol_file_name"] or "data") + ".dat"
        info["path"] = self.store.save(conv.id, name, data)
        info["name"] = os.path.basename(info["path"])
        info["size"] = len(data)
        return 0, ""

    def _on_getfile(self, req, msg, kind, info, forced, rules):
        conv, code, note = self._session_of(req, info, kind, "getfile")
        if code == 0 and soap.number(msg.get("ResultCode")):
            code, note = 99, "GetFile with ResultCode %s" % msg.get("ResultCode")
        if code == 0 and conv.item is None:
            code, note = 32, "nothing to deliver"
        if forced is not None:
            code, note = forced, "forced"
        if code:
            return conv, self._refuse_getfile(conv, code, note)
        return conv, self._deliver(conv, faultmod.first(rules, "bad-md5"),
                                   faultmod.first(rules, "entity-first"))

    def _refuse_getfile(self, conv, code, note):
        empty = [(n, "") for n in ("Length", "RecordLength", "RecordNumber",
                                   "RecordFlag", "CompressFlag", "MD5",
                                   "Entity")]
        return Answer("GetFileResponse", [
            ("ResultCode", str(code)),
            ("Header", self._header(conv, self._session_id(conv))),
            ("File", empty),
            ("FileRecord", [("FileLoadNo", ""), ("FileRecordKey", "")])],
            code, note=note)

    def _deliver(self, conv, bad_md5, entity_first=False):
        kdef = conv.kind_def
        compress = int(kdef.get("compress", self.cfg["compress"]))
        rl = int(kdef.get("record_length", self.cfg["record_length"]))
        with open(conv.item.path, "rb") as fh:
            data = fh.read()
        md5 = filebody.md5hex(data)
        sent_md5 = filebody.md5hex(data + b"x") if bad_md5 else md5
        items = filebody.file_items(data, rl, compress == 1, md5=sent_md5)
        fields = dict(items)
        conv.log["delivered"] = {
            "path": conv.item.path, "name": conv.item.name, "md5": md5,
            "md5_sent": sent_md5, "length": len(data),
            "compress_flag": fields["CompressFlag"],
            "record_length": int(fields["RecordLength"]),
            "record_number": int(fields["RecordNumber"]),
            "entity_chars": len(fields["Entity"]), "moved_to": None,
        }
        items[-1] = ("Entity", soap.Raw(fields["Entity"]))
        if entity_first:
            # A sender may order the File values freely: the reader learns
            # the length and compression only after the data.
            items.insert(0, items.pop())
        return Answer("GetFileResponse", [
            ("ResultCode", "0"),
            ("Header", self._header(conv, self._session_id(conv))),
            ("File", items)], 0)

    def _on_report(self, req, msg, kind, info, forced, rules):
        conv, code, note = self._session_of(req, info, kind, None)
        rr = msg.get("ResultCode")
        if code == 0:
            conv.log["report_code"] = soap.number(rr)
            conv.log["report_code_text"] = rr
        if forced is not None:
            code, note = forced, "forced"
        if conv.session is not None:
            delivered = (code == 0 and conv.kind == "getfile"
                         and soap.number(rr) == 0
                         and conv.log["delivered"] is not None)
            self._end_session(conv, delivered)
        return conv, Answer("ReportStatusResponse", [
            ("ResultCode", str(code)),
            ("Header", self._header(conv, self._session_id(conv)))],
            code, note=note)

    def _end_session(self, conv, delivered):
        moved = self.store.release(conv.item, delivered)
        if conv.log["delivered"] is not None:
            conv.log["delivered"]["moved_to"] = moved
            conv.log["delivered"]["accepted"] = delivered
        conv.item = None
        self.sessions.pop(conv.session, None)
        conv.finish()

    # -- RegistTerminal

    def _on_regist(self, req, msg, kind, info, forced, rules):
        conv = self._new_conversation("regist", req.target, info)
        a = self._read_auth(msg)
        csr = msg.get("CSR")
        conv.log["auth"] = a
        reg = {"csr_chars": len(csr), "csr_has_line_breaks": "\n" in csr,
               "subject": None, "signature_ok": None, "cert": None,
               "error": None}
        conv.log["regist"] = reg
        code = 0 if kind == "regist" else 10
        code = code or self._check_ids(a)
        cert_text = None
        if code == 0:
            try:
                der, made = self.pki.sign_request(csr)
                reg.update(subject=made["subject"],
                           signature_ok=made["signature_ok"],
                           cert=made["cert"], serial=made["serial"])
                cert_text = format_certificate(der,
                                               self.cfg["regist_cert_format"])
            except PkiError as e:
                reg["error"] = str(e)
                code = 18
        if forced is not None:
            code = forced
        if code or faultmod.first(rules, "no-cert"):
            cert_text = None
        conv.finish()
        return conv, Answer("RegistTerminalResponse", [
            ("ResultCode", str(code)), ("Header", self._header(conv)),
            ("Certificate", cert_text)], code, note=reg["error"] or "")

    # ----- sending, with misbehaviour

    def _send_reply(self, ch, headers, body, rules, closing):
        names = {r.name for r in rules}
        slow = faultmod.first(rules, "slow")
        if slow:
            self.stop.wait(float(slow.arg) if slow.arg
                           else self.cfg["slow_seconds"])
        silent = faultmod.first(rules, "silent")
        if silent:
            ch.hold(float(silent.arg) if silent.arg
                    else self.cfg["silent_seconds"])
            return True
        if "drop" in names:
            return True
        if "garbage" in names:
            self._try_send(ch, b"XQ-GARBAGE 200 OK\r\n\r\n" + body[:64])
            return True
        close = closing or bool(names & {"close", "truncate", "no-length"})
        hdrs = headers + [
            ("Content-Type", 'text/xml; charset="utf-8"'),
            ("Pragma", "no-cache"),
            ("Connection", "close" if close else "keep-alive")]
        data = http11.build("HTTP/1.1 200 OK", hdrs, body,
                            with_length="no-length" not in names)
        if "truncate" in names:
            data = data[:len(data) - len(body) // 2 - 1]
        return not self._try_send(ch, data) or close

    @staticmethod
    def _try_send(ch, data):
        try:
            ch.send(data)
            return True
        except http11.HttpError:
            return False

    # ----- control interface

    def _control(self, ch, req, info):
        path = req.target.split("?", 1)[0]
        status = "HTTP/1.1 200 OK"
        try:
            if path == "/_log":
                with self.lock:
                    body = json.dumps([c.log for c in self.conversations],
                                      ensure_ascii=False)
            elif path == "/_config":
                with self.lock:
                    body = json.dumps(self.describe(), ensure_ascii=False)
            elif path == "/_health":
                body = json.dumps({"ok": True})
            elif path in ("/_control", "/_stop") and \
                    req.method.upper() == "POST":
                ops = json.loads(req.body or b"{}") if path == "/_control" \
                    else {"stop": True}
                with self.lock:
                    self.apply_control(ops)
                    body = json.dumps({"ok": True, "config": self.describe()},
                                      ensure_ascii=False)
            else:
                status = "HTTP/1.1 404 Not Found"
                body = json.dumps({"ok": False, "error": "no such path"})
        except (ValueError, TypeError, KeyError, faultmod.FaultError) as e:
            status = "HTTP/1.1 400 Bad Request"
            body = json.dumps({"ok": False, "error": str(e)})
        data = http11.build(status, [
            ("Content-Type", "application/json; charset=utf-8"),
            ("Connection", "keep-alive")], body.encode("utf-8"))
        return not self._try_send(ch, data)

    def apply_control(self, ops):
        """Run-time changes; the caller holds the lock."""
        if not isinstance(ops, dict):
            raise ValueError("control body must be a JSON object")
        unknown = set(ops) - {"fault", "add_fault", "set", "clear_log",
                              "stop"}
        if unknown:
            raise ValueError("unknown control keys: %s" % sorted(unknown))
        if "fault" in ops:
            f = ops["fault"]
            self.faults.replace([] if not f else
                                [f] if isinstance(f, str) else list(f))
        if "add_fault" in ops:
            self.faults.add(ops["add_fault"])
        for k, v in (ops.get("set") or {}).items():
            k = k.replace("-", "_")
            if k not in RUNTIME_KEYS:
                raise ValueError("%s cannot be changed at run time" % k)
            self.cfg[k] = v
        if ops.get("clear_log"):
            self.conversations.clear()
        if ops.get("stop"):
            self.stop.set()

    def describe(self):
        cfg = {k: v for k, v in self.cfg.items() if k != "fault"}
        cfg["faults"] = self.faults.describe()
        cfg["open_sessions"] = sorted(self.sessions)
        return cfg

    def note(self, text):
        if not self.cfg["quiet"]:
            sys.stderr.write("center-sim: %s\n" % text)
            sys.stderr.flush()

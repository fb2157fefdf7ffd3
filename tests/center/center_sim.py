#!/usr/bin/env python3
"""Center simulator for the terminal's center link tests.

  center_sim.py [serve] [options]      the center the terminal posts to
  center_sim.py gateway [options]      the center's gateway calling the
                                       terminal's own server

See README.md in this folder for the flags and the control interface.
"""

import argparse
import json
import os
import shutil
import signal
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

from centersim import faults as faultmod  # noqa: E402
from centersim import soap  # noqa: E402
from centersim.gateway import Gateway  # noqa: E402
from centersim.pki import Pki, PkiError  # noqa: E402
from centersim.server import DEFAULTS, CenterServer  # noqa: E402
from centersim.store import Store  # noqa: E402

LOOPBACK = ("127.0.0.1", "localhost", "::1")


def parse_kind(text):
    """PROTOCOLFILENAME,ACCESSKEY[,SERVICENO[,COMPRESS[,RECORDLENGTH]]]"""
    parts = text.split(",")
    if len(parts) < 2 or len(parts) > 5:
        raise argparse.ArgumentTypeError("kind needs 2 to 5 fields: %r" % text)
    kind = {"protocol_file_name": parts[0], "access_key": parts[1]}
    for key, value in zip(("service_no", "compress", "record_length"),
                          parts[2:]):
        if value != "":
            kind[key] = int(value)
    return kind


def serve_parser():
    p = argparse.ArgumentParser(prog="center_sim.py [serve]",
                                description="Center simulator, server role.")
    a = p.add_argument
    a("--config", help="JSON file with settings (flag names, _ for -)")
    a("--host", help="address to listen on (loopback only)")
    a("--port", type=int, help="port, 0 picks a free one (default 0)")
    a("--control-port", type=int,
      help="plain-HTTP control port, 0 picks a free one (default 0)")
    a("--tls", action="store_true", default=None, help="serve HTTPS")
    a("--cert", help="server certificate PEM (default: made at start)")
    a("--key", help="server key PEM")
    a("--client-cert", choices=("none", "optional", "required"),
      help="ask the terminal for a certificate from our CA (default none)")
    a("--store", help="folder for received/, outbox/, sent/ "
      "(default: a temporary folder removed at exit)")
    a("--pki", help="folder for the test CA and the certificates it signs "
      "(default: STORE/pki)")
    a("--deliver", help="file delivered when the outbox has nothing")
    a("--terminal-id", help="expected TerminalID (unset: any)")
    a("--center-id", help="expected TargetTerminalID (unset: any)")
    a("--password", help="expected Password (unset: any; wrong gives 15)")
    a("--kind", action="append", type=parse_kind, dest="kinds",
      help="data kind PFN,ACCESSKEY[,SERVICENO[,COMPRESS[,RECLEN]]]; "
      "repeatable; none configured accepts any")
    a("--compress", type=int, choices=(0, 1), help="gzip GetFile bodies")
    a("--record-length", type=int, help="RecordLength of deliveries "
      "(default -1: variable records)")
    a("--load-no", help="FileLoadNo to give out (default: generated)")
    a("--record-key", help="FileRecordKey to give out (default: generated)")
    a("--data-file-name", help="DataFileName to give out "
      "(default: the delivered file's name)")
    a("--no-file-at", choices=("auth", "file"),
      help="where an empty outbox answers 32 (default file)")
    a("--regist-cert-format", choices=("oneline", "wrapped", "pem"),
      help="Certificate text of the RegistTerminal reply (default oneline)")
    a("--cookie-name", help="cookie name in Set-Cookie (default ZORVANTIKE)")
    a("--cookie-suffix", help='text after the cookie value, e.g. "; path=/"')
    a("--namespace", help="message namespace URI")
    a("--fault", action="append",
      help="NAME[=ARG][@STAGE][*COUNT], repeatable; names: "
      + ", ".join(sorted(faultmod.SERVER_FAULTS)))
    a("--slow-seconds", type=float, help="delay of the slow fault (5)")
    a("--silent-seconds", type=float,
      help="how long the silent fault holds a connection (120)")
    a("--idle-timeout", type=float,
      help="seconds a kept-alive connection may wait for a request (120)")
    a("--read-timeout", type=float, help="seconds for each later read (60)")
    a("--lifetime", type=float, default=0,
      help="stop after this many seconds (default 0: no limit)")
    a("--exit-with-parent", action="store_true",
      help="stop when the process that started the simulator ends")
    a("--quiet", action="store_true", default=None,
      help="no request log on stderr")
    return p


def gateway_parser():
    p = argparse.ArgumentParser(
        prog="center_sim.py gateway",
        description="Center simulator, gateway role: one conversation "
        "with the terminal's own server.")
    a = p.add_argument
    stamp = soap.now_stamp()
    a("--host", default="127.0.0.1")
    a("--port", type=int, required=True)
    a("--tls", action="store_true")
    a("--ca", help="verify the terminal's certificate against this CA")
    a("--client-cert", help="certificate to present (PEM)")
    a("--client-key", help="key of --client-cert")
    a("--mode", choices=("fetch", "deliver"), required=True,
      help="fetch a staged file (/getfile) or deliver one (/putfile)")
    a("--target", help="request target (default /getfile or /putfile)")
    a("--terminal-id", default="", help="TargetTerminalID: the terminal")
    a("--center-id", default="", help="TerminalID: the center, the sender")
    a("--password", default="")
    a("--protocol-version", default="")
    a("--service-no", default="")
    a("--protocol-file-name", default="")
    a("--access-key", default="")
    a("--resend-flag", default="")
    a("--data-file-name", default="")
    a("--load-no", default=stamp + "%05d" % (os.getpid() % 100000))
    a("--record-key", default="GW" + stamp)
    a("--session-id", default="GW" + stamp)
    a("--file", help="file to deliver")
    a("--data", help="text to deliver instead of --file")
    a("--out", help="where a fetched file is written")
    a("--compress", type=int, choices=(0, 1), default=0)
    a("--record-length", type=int, default=-1)
    a("--namespace", default=soap.MSG_NS)
    a("--fault", action="append", default=[],
      help="NAME[=ARG][@STAGE][*COUNT], repeatable; names: "
      + ", ".join(sorted(faultmod.GATEWAY_FAULTS)))
    a("--timeout", type=float, default=30, help="seconds to wait for a reply")
    a("--connect-timeout", type=float, default=10)
    return p


def merged_config(args):
    cfg = json.loads(json.dumps(DEFAULTS))
    if args.config:
        with open(args.config) as f:
            data = json.load(f)
        for k, v in data.items():
            k = k.replace("-", "_")
            if k not in cfg:
                raise SystemExit("unknown setting in %s: %s"
                                 % (args.config, k))
            cfg[k] = v
    for k, v in vars(args).items():
        if k in cfg and v is not None:
            cfg[k] = v
    if isinstance(cfg["fault"], str):
        cfg["fault"] = [cfg["fault"]]
    return cfg


def install_stop(event):
    def handler(signum, frame):
        event.set()
    signal.signal(signal.SIGTERM, handler)
    signal.signal(signal.SIGINT, handler)


def serve(argv):
    args = serve_parser().parse_args(argv)
    cfg = merged_config(args)
    if cfg["host"] not in LOOPBACK:
        raise SystemExit("the simulator listens on loopback only")
    made_store = cfg["store"] is None
    if made_store:
        cfg["store"] = tempfile.mkdtemp(prefix="center-sim-")
    store = Store(cfg["store"])
    cfg["store"] = store.root
    pki = Pki(cfg["pki"] or os.path.join(store.root, "pki"))
    try:
        pki.ensure_ca()
        server = CenterServer(cfg, store, pki)
        if cfg["tls"]:
            server.setup_tls()
    except (PkiError, faultmod.FaultError, OSError) as e:
        if made_store:
            shutil.rmtree(store.root, ignore_errors=True)
        raise SystemExit("center-sim: %s" % e)
    install_stop(server.stop)
    port = server.listen(cfg["port"], False)
    control_port = server.listen(cfg["control_port"], True)
    cfg["port"], cfg["control_port"] = port, control_port
    print(json.dumps({
        "port": port, "tls": bool(cfg["tls"]), "ca_cert": pki.ca_cert,
        "server_cert": server.server_cert, "server_key": server.server_key,
        "control_port": control_port, "store": store.root,
        "pid": os.getpid()}), flush=True)
    server.note("listening on %s:%d%s, control on %d"
                % (cfg["host"], port, " (TLS)" if cfg["tls"] else "",
                   control_port))
    wait_for_stop(server.stop, args.lifetime, args.exit_with_parent)
    server.shutdown()
    if made_store:
        shutil.rmtree(store.root, ignore_errors=True)
    return 0


def wait_for_stop(stop, lifetime, with_parent):
    # Watching the parent lets a crashed test take its simulator with it.
    parent = os.getppid()
    end = time.monotonic() + lifetime if lifetime > 0 else None
    while not stop.wait(0.1):
        if with_parent and os.getppid() != parent:
            break
        if end is not None and time.monotonic() >= end:
            break


def gateway(argv):
    opts = gateway_parser().parse_args(argv)
    if opts.host not in LOOPBACK:
        raise SystemExit("the gateway calls loopback addresses only")
    if opts.mode == "deliver" and not opts.file and opts.data is None:
        raise SystemExit("deliver needs --file or --data")
    try:
        gw = Gateway(opts)
    except faultmod.FaultError as e:
        raise SystemExit(str(e))
    install_stop(gw.stop)
    summary = gw.run()
    print(json.dumps(summary, ensure_ascii=False), flush=True)
    return 0 if summary["ok"] else 1


def main(argv):
    if argv and argv[0] == "gateway":
        return gateway(argv[1:])
    if argv and argv[0] == "serve":
        argv = argv[1:]
    return serve(argv)


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))

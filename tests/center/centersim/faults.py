"""Misbehaviour on request: NAME[=ARG][@STAGE][*COUNT].

STAGE is auth, file, report, regist or any (the default); COUNT is how
many times the rule fires before it is spent (default: every time).
"""

import threading

STAGES = ("any", "auth", "file", "report", "regist")

SERVER_FAULTS = {
    # name: (needs an argument, applies only to these methods or None)
    "slow": (False, None),
    "silent": (False, None),
    "drop": (False, None),
    "truncate": (False, None),
    "close": (False, None),
    "no-length": (False, None),
    "garbage": (False, None),
    "result": (True, None),
    "bad-md5": (False, ("GetFile",)),
    "entity-first": (False, ("GetFile",)),
    "no-cert": (False, ("RegistTerminal",)),
}

_FILE = ("GetFile", "PutFile")
_AFTER_AUTH = ("GetFile", "PutFile", "ReportStatus")

GATEWAY_FAULTS = {
    "drop-after-auth": (False, _FILE),
    "bad-md5": (False, ("PutFile",)),
    "upper-md5": (False, ("PutFile",)),
    "late-entity": (False, ("PutFile",)),
    "entity-path": (True, ("PutFile",)),
    "wrapped-entity": (False, ("PutFile",)),
    "doctype": (False, ("RequestAuthentication",)),
    "empty-cookie": (False, _AFTER_AUTH),
    "no-cookie": (False, _AFTER_AUTH),
    "wrong-cookie": (False, _AFTER_AUTH),
    "swap-method": (False, _FILE),
    "result": (True, _AFTER_AUTH),
    "no-length": (False, None),
    "truncate": (False, None),
    "slow": (False, None),
}

STAGE_OF_METHOD = {
    "RequestAuthentication": "auth",
    "GetFile": "file",
    "PutFile": "file",
    "ReportStatus": "report",
    "RegistTerminal": "regist",
}


class FaultError(ValueError):
    pass


class Rule:
    def __init__(self, name, arg, stage, count, text):
        self.name = name
        self.arg = arg
        self.stage = stage
        self.count = count
        self.text = text

    def matches(self, stage, method, table):
        if self.count is not None and self.count <= 0:
            return False
        if self.stage != "any" and self.stage != stage:
            return False
        only = table[self.name][1]
        return only is None or method in only

    def as_dict(self):
        return {"text": self.text, "name": self.name, "arg": self.arg,
                "stage": self.stage, "left": self.count}


def parse(text, table):
    whole = text.strip()
    rest, count = whole, None
    if "*" in rest:
        rest, n = rest.rsplit("*", 1)
        try:
            count = int(n)
        except ValueError:
            raise FaultError("bad count in %r" % whole) from None
    stage = "any"
    if "@" in rest:
        rest, stage = rest.rsplit("@", 1)
        if stage not in STAGES:
            raise FaultError("unknown stage %r in %r" % (stage, whole))
    name, arg = (rest.split("=", 1) + [None])[:2]
    if name not in table:
        raise FaultError("unknown fault %r (known: %s)"
                         % (name, ", ".join(sorted(table))))
    if table[name][0] and arg is None:
        raise FaultError("fault %r needs =VALUE" % name)
    if name == "result":
        try:
            int(arg)
        except ValueError:
            raise FaultError("result needs a number: %r" % whole) from None
    return Rule(name, arg, stage, count, whole)


class FaultSet:
    """Rules that can be replaced at run time; taking one spends a count."""

    def __init__(self, table, texts=()):
        self.table = table
        self._lock = threading.Lock()
        self._rules = [parse(s, table) for s in texts]

    def replace(self, texts):
        rules = [parse(s, self.table) for s in texts]
        with self._lock:
            self._rules = rules

    def add(self, text):
        rule = parse(text, self.table)
        with self._lock:
            self._rules.append(rule)

    def take(self, method):
        """All rules that fire for this method now; one count each."""
        stage = STAGE_OF_METHOD.get(method, "any")
        fired = []
        with self._lock:
            for r in self._rules:
                if r.matches(stage, method, self.table):
                    if r.count is not None:
                        r.count -= 1
                    fired.append(r)
        return fired

    def describe(self):
        with self._lock:
            return [r.as_dict() for r in self._rules]


def first(rules, name):
    for r in rules:
        if r.name == name:
            return r
    return None

"""Where received files go and where files to deliver come from.

store/received/  files the terminal sent (PutFile)
store/outbox/    files to deliver, taken in name order and moved to
                 store/sent/ once the terminal reported success;
                 store/outbox/<ProtocolFileName>/ is looked at first
A configured fixed file (--deliver) is used when the outbox has nothing,
and is never consumed.
"""

import os
import re
import shutil
import threading


def safe_name(name, fallback="data.dat"):
    name = os.path.basename(name or "")
    name = re.sub(r"[^A-Za-z0-9._-]", "_", name).lstrip(".")
    return name or fallback


class Item:
    def __init__(self, path, consumable):
        self.path = path
        self.consumable = consumable
        self.name = os.path.basename(path)


class Store:
    def __init__(self, root):
        self.root = os.path.abspath(root)
        self.received = os.path.join(self.root, "received")
        self.outbox = os.path.join(self.root, "outbox")
        self.sent = os.path.join(self.root, "sent")
        for d in (self.received, self.outbox, self.sent):
            os.makedirs(d, exist_ok=True)
        self._lock = threading.Lock()
        self._reserved = set()

    def save(self, seq, name, data):
        path = os.path.join(self.received, "%04d_%s" % (seq, safe_name(name)))
        with open(path, "wb") as f:
            f.write(data)
        return path

    def _candidates(self, kind):
        dirs = []
        if kind:
            dirs.append(os.path.join(self.outbox, safe_name(kind, "_")))
        dirs.append(self.outbox)
        for d in dirs:
            if not os.path.isdir(d):
                continue
            for n in sorted(os.listdir(d)):
                p = os.path.join(d, n)
                if not n.startswith(".") and os.path.isfile(p):
                    yield p

    def reserve(self, kind, fixed):
        """Next file to deliver for a data kind, or None."""
        with self._lock:
            for p in self._candidates(kind):
                if p not in self._reserved:
                    self._reserved.add(p)
                    return Item(p, True)
        if fixed and os.path.isfile(fixed):
            return Item(os.path.abspath(fixed), False)
        return None

    def release(self, item, delivered):
        """End of a conversation: move a delivered outbox file to sent/."""
        if item is None or not item.consumable:
            return None
        with self._lock:
            self._reserved.discard(item.path)
            if not delivered or not os.path.exists(item.path):
                return None
            dest = os.path.join(self.sent, item.name)
            if os.path.exists(dest):
                base, ext = os.path.splitext(item.name)
                i = 1
                while os.path.exists(dest):
                    dest = os.path.join(self.sent, "%s.%d%s" % (base, i, ext))
                    i += 1
            shutil.move(item.path, dest)
            return dest

"""A private headless office suite driven over a uno pipe, for scripts and
tests: its own profile in a temporary folder, killed when the session ends."""

import os
import shutil
import signal
import subprocess
import tempfile
import time

import uno
from com.sun.star.beans import PropertyValue


def prop(name, value):
    p = PropertyValue()
    p.Name = name
    p.Value = value
    return p


class OfficeSession(object):

    def __init__(self):
        self.folder = tempfile.mkdtemp(prefix="vok-office-")
        pipe = "vok_%d_%d" % (os.getpid(), int(time.time() * 1000))
        self.process = subprocess.Popen(
            ["soffice", "-env:UserInstallation=" + uno.systemPathToFileUrl(
                os.path.join(self.folder, "profile")),
             "--headless", "--invisible", "--norestore", "--nologo",
             "--accept=pipe,name=%s;urp;" % pipe],
            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
            start_new_session=True)
        local = uno.getComponentContext()
        resolver = local.ServiceManager.createInstanceWithContext(
            "com.sun.star.bridge.UnoUrlResolver", local)
        deadline = time.time() + 60
        while True:
            try:
                context = resolver.resolve(
                    "uno:pipe,name=%s;urp;StarOffice.ComponentContext" % pipe)
                break
            except Exception:
                if time.time() > deadline or self.process.poll() is not None:
                    self.close()
                    raise RuntimeError("the office suite did not start")
                time.sleep(0.1)
        self.desktop = context.ServiceManager.createInstanceWithContext(
            "com.sun.star.frame.Desktop", context)

    def load(self, path):
        doc = self.desktop.loadComponentFromURL(
            uno.systemPathToFileUrl(os.path.abspath(path)), "_blank", 0,
            (prop("Hidden", True),))
        if doc is None:
            raise RuntimeError("cannot load " + path)
        return doc

    def new(self, kind):
        return self.desktop.loadComponentFromURL(
            "private:factory/" + kind, "_blank", 0, (prop("Hidden", True),))

    def close(self):
        # soffice starts the suite as a child of its own: end the whole group.
        try:
            os.killpg(self.process.pid, signal.SIGKILL)
            self.process.wait(10)
        except (OSError, subprocess.TimeoutExpired):
            pass
        finally:
            shutil.rmtree(self.folder, ignore_errors=True)

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()

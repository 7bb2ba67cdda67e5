#!/usr/bin/python3
"""Drives the installer's pages as a user would, through the accessibility
interface (AT-SPI): licence -> I agree -> Next -> the target folder typed ->
Install -> Finish.  Takes a picture of the whole screen at each page.

    drive_pages.py INSTALLER TARGET_DIR SCREENSHOT_DIR

Run inside dbus-run-session on an X display.  Exits 0 when the installer
went through every page and ended with status 0; prints what went wrong
otherwise.
"""
import os
import subprocess
import sys
import time

import gi

gi.require_version("Gdk", "3.0")
gi.require_version("Atspi", "2.0")
from gi.repository import Gdk  # noqa: E402
import pyatspi  # noqa: E402

installer, target, shots = sys.argv[1:4]
os.makedirs(shots, exist_ok=True)


def fail(what):
    print("drive_pages: " + what, flush=True)
    screenshot("failure")
    if proc.poll() is None:
        proc.kill()
    sys.exit(1)


def screenshot(name):
    root = Gdk.get_default_root_window()
    if root is None:
        return
    pixbuf = Gdk.pixbuf_get_from_window(root, 0, 0, root.get_width(), root.get_height())
    if pixbuf is not None:
        pixbuf.savev(os.path.join(shots, name + ".png"), "png", [], [])


def application():
    desktop = pyatspi.Registry.getDesktop(0)
    for app in desktop:
        if app is None:
            continue
        try:
            if app.get_process_id() == proc.pid:
                return app
        except Exception:
            pass
    return None


def find(role, name, showing=True):
    app = application()
    if app is None:
        return None

    def match(node):
        try:
            if node.getRole() != role or node.name != name:
                return False
            return not showing or node.getState().contains(pyatspi.STATE_SHOWING)
        except Exception:
            return False

    return pyatspi.findDescendant(app, match, True)


def wait_for(role, name, seconds=30, showing=True):
    until = time.time() + seconds
    while time.time() < until:
        if proc.poll() is not None:
            fail("the installer ended (status %d) while waiting for %r" % (proc.returncode, name))
        node = find(role, name, showing)
        if node is not None:
            return node
        time.sleep(0.2)
    fail("no %s %r within %d s" % (pyatspi.Role(role) if hasattr(pyatspi, "Role") else role, name, seconds))


def sensitive(node):
    return node.getState().contains(pyatspi.STATE_SENSITIVE)


def press(node):
    node.queryAction().doAction(0)


proc = subprocess.Popen([installer], env=dict(os.environ, NO_AT_BRIDGE="0"))

# Licence page: Next only once "I agree" is ticked.
agree = wait_for(pyatspi.ROLE_CHECK_BOX, "I agree")
next_button = wait_for(pyatspi.ROLE_PUSH_BUTTON, "Next")
time.sleep(0.5)
screenshot("1-licence")
if sensitive(next_button):
    fail("Next is enabled before I agree is ticked")
press(agree)
time.sleep(0.3)
if not sensitive(next_button):
    fail("Next stays disabled after I agree is ticked")
press(next_button)

# Target page: the folder typed into its field, then Install.
install = wait_for(pyatspi.ROLE_PUSH_BUTTON, "Install")
wait_for(pyatspi.ROLE_CHECK_BOX, "Set as defaut screensaver")
field = None
app = application()
for node in pyatspi.findAllDescendants(app, lambda n: n.getRole() == pyatspi.ROLE_TEXT):
    try:
        if node.getState().contains(pyatspi.STATE_EDITABLE) and node.getState().contains(pyatspi.STATE_SHOWING):
            field = node
            break
    except Exception:
        pass
if field is None:
    fail("no install folder field on the target page")
field.queryEditableText().setTextContents(target)
time.sleep(0.3)
screenshot("2-target")
press(install)

# Progress page: Finish appears after the work and its pause.
finish = wait_for(pyatspi.ROLE_PUSH_BUTTON, "Finish", seconds=90)
status = find(pyatspi.ROLE_LABEL, "Install progress 100%")
screenshot("3-progress")
if status is None:
    fail("the progress page does not read Install progress 100%")
press(finish)

try:
    code = proc.wait(timeout=30)
except subprocess.TimeoutExpired:
    fail("the installer did not end after Finish")
if code != 0:
    print("drive_pages: the installer ended with status %d" % code, flush=True)
    sys.exit(1)
print("drive_pages: done", flush=True)

#!/usr/bin/env python3
"""aquaveil /c on the real GTK dialogs, driven as a user would through the
accessibility interface (AT-SPI) on a private D-Bus session: open "Water
Surface Settings", change a check box and a trackbar, OK, OK, and find the
change in the settings file; Cancel instead changes nothing.

  atspi_settings_test.py --aquaveil PATH

Exits 77 (skipped) when there is no display, D-Bus or AT-SPI, unless
LM_REQUIRE_DISPLAY=1 asks for them, when it fails instead.
"""
import argparse
import os
import shutil
import struct
import subprocess
import sys
import tempfile
import time

SKIP = 77


def required():
    return os.environ.get("LM_REQUIRE_DISPLAY", "") not in ("", "0")


def give_up(why):
    if required():
        print("FAIL: %s (required here)" % why)
        sys.exit(1)
    print("SKIP: %s" % why)
    sys.exit(SKIP)


def wait_for(what, condition, timeout=30.0):
    end = time.time() + timeout
    while time.time() < end:
        value = condition()
        if value:
            return value
        time.sleep(0.1)
    raise AssertionError("timed out waiting for %s" % what)


class Session:
    """One run of `aquaveil /c` in a fresh home, registry and settings folder."""

    def __init__(self, aquaveil):
        self.root = tempfile.mkdtemp(prefix="lumenmere-atspi-")
        self.settings = os.path.join(self.root, "settings")
        os.makedirs(self.settings)
        env = dict(os.environ)
        for name in ("home", "config", "data"):
            os.makedirs(os.path.join(self.root, name))
        env["HOME"] = os.path.join(self.root, "home")
        env["XDG_CONFIG_HOME"] = os.path.join(self.root, "config")
        env["XDG_DATA_HOME"] = os.path.join(self.root, "data")
        env["GSETTINGS_BACKEND"] = "memory"
        env.pop("NO_AT_BRIDGE", None)
        registry = os.path.join(self.root, "registry.reg")
        env["LUMENMERE_REGISTRY"] = registry
        # The settings file goes where the installer would have pointed it.
        with open(registry, "w") as f:
            f.write('REGEDIT4\n\n[HKEY_CURRENT_USER\\Software\\Tessolar\\Lumenmere]\n"installdir"="%s"\n' % self.settings)
        self.process = subprocess.Popen([aquaveil, "/c"], env=env, cwd=self.root)

    def settings_file(self):
        path = os.path.join(self.settings, "Lumenmere.ini")
        if not os.path.exists(path):
            return None
        with open(path, "rb") as f:
            return f.read()

    def finish(self):
        # A run that got stuck is ended; one that ended has its folder removed.
        if self.process.poll() is None:
            self.process.kill()
            self.process.wait()
        shutil.rmtree(self.root, ignore_errors=True)


def water_settings(data):
    """(waterFlags, specularPower) of a settings file's water block."""
    root_length = struct.unpack_from("<I", data, 0)[0]
    tag = b"$saveconfigwater$\0"
    assert data[root_length + 4:root_length + 4 + len(tag)].lower() == tag, "no water block"
    body = root_length + 4 + len(tag)
    flags = struct.unpack_from("<I", data, body + 16)[0]
    power = struct.unpack_from("<i", data, body + 36)[0]
    return flags, power


WATER_DROP = 32


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--aquaveil", required=True)
    args = parser.parse_args()
    args.aquaveil = os.path.abspath(args.aquaveil)

    if not os.environ.get("DISPLAY"):
        give_up("no X display")
    if os.environ.get("LM_ATSPI_PRIVATE_BUS") != "1":
        runner = shutil.which("dbus-run-session")
        if not runner:
            give_up("dbus-run-session is not installed (scripts/setup.sh installs it)")
        env = dict(os.environ, LM_ATSPI_PRIVATE_BUS="1")
        os.execvpe(runner, [runner, "--", sys.executable, os.path.abspath(__file__)] + sys.argv[1:], env)

    try:
        import pyatspi
    except ImportError:
        give_up("python3-pyatspi is not installed (scripts/setup.sh installs it)")

    def find(root, name, role=None):
        if root is None:
            return None
        return pyatspi.utils.findDescendant(
            root, lambda a: a is not None and a.name == name and (role is None or a.getRoleName() == role))

    def window(name):
        desktop = pyatspi.Registry.getDesktop(0)
        for app in desktop:
            if app is None:
                continue
            for w in app:
                if w is not None and w.name == name and w.getState().contains(pyatspi.STATE_VISIBLE):
                    return w
        return None

    def click(root, name, role="push button"):
        control = wait_for("%s %r" % (role, name), lambda: find(root, name, role))
        control.queryAction().doAction(0)
        return control

    def change_water(ok):
        menu = wait_for("the settings menu", lambda: window("Lumenmere Settings"))
        click(menu, "Water Surface Settings")
        water = wait_for("the water dialog", lambda: window("Water Surface Settings"))
        drop = click(water, "Water Drop", "check box")
        wait_for("Water Drop checked", lambda: drop.getState().contains(pyatspi.STATE_CHECKED), 10)
        power = wait_for("the Specular Power slider", lambda: find(water, "Specular Power", "slider"))
        power.queryValue().currentValue = 80
        wait_for("the slider at 80", lambda: abs(power.queryValue().currentValue - 80) < 0.5, 10)
        click(water, "OK" if ok else "Cancel")
        wait_for("the water dialog to close", lambda: window("Water Surface Settings") is None, 10)
        return menu

    failures = []

    def case(name, body):
        try:
            body()
            print("PASS: %s" % name)
        except AssertionError as e:
            print("FAIL: %s: %s" % (name, e))
            desktop = pyatspi.Registry.getDesktop(0)
            print("  on the desktop: %s" % [(app.name, [w.name for w in app]) for app in desktop if app is not None])
            failures.append(name)

    # The settings file must be read before the session's folder goes.
    def ok_then_ok_reading():
        s = Session(args.aquaveil)
        data = None
        try:
            menu = change_water(ok=True)
            click(menu, "OK")
            assert s.process.wait(timeout=30) == 0, "aquaveil /c did not end cleanly"
            data = s.settings_file()
        finally:
            s.finish()
        assert data is not None, "OK, OK wrote no settings file"
        flags, power = water_settings(data)
        assert flags & WATER_DROP, "Water Drop is not on in the file (flags %#x)" % flags
        assert power == 80, "specular power %d, not 80" % power

    def water_cancel_then_ok():
        s = Session(args.aquaveil)
        data = None
        try:
            menu = change_water(ok=False)
            click(menu, "OK")
            assert s.process.wait(timeout=30) == 0, "aquaveil /c did not end cleanly"
            data = s.settings_file()
        finally:
            s.finish()
        assert data is not None, "OK of the menu wrote no settings file"
        flags, power = water_settings(data)
        assert not flags & WATER_DROP and power == 35, "Cancel changed the water settings (%#x, %d)" % (flags, power)

    def menu_cancel():
        s = Session(args.aquaveil)
        data = b""
        try:
            menu = change_water(ok=True)
            click(menu, "Cancel")
            assert s.process.wait(timeout=30) == 0, "aquaveil /c did not end cleanly"
            data = s.settings_file()
        finally:
            s.finish()
        assert data is None, "Cancel of the menu wrote the settings file"

    case("OkAndOkKeepTheCheckBoxAndTrackbar", ok_then_ok_reading)
    case("CancelOfTheWaterDialogChangesNothing", water_cancel_then_ok)
    case("CancelOfTheMenuWritesNothing", menu_cancel)
    print("%d passed, %d failed" % (3 - len(failures), len(failures)))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())

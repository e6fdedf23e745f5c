#!/usr/bin/python3
"""corvane-tray on a private D-Bus session bus with a stand-in notification
host (sni_watcher.py), on a virtual X server (Xvfb), against the real
bin/corvane on loopback.

    tray_dbus_test.py CASE

CASE is one of:
  menu   the item registers with the tip "Vaux Aris 700" and a menu of
         Browser, GUI, IO Window, Help, Exit; a second tray for the same home
         attaches without a second daemon; the daemon killed, the menu offers
         "Start Corvane", which starts it again; Exit stops the daemon it started
  blink  controller traffic a command causes turns the icon to the traffic
         picture for a moment, and back (BASIC web security, bound to 127.0.0.2)
  home   a home folder that cannot be written: a clear message, exit code 1
Exit code 77 (a skip for ctest) when dbus-daemon, Xvfb or python3-dbus is
missing."""
import contextlib
import hashlib
import os
import shutil
import signal
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "support"))
import testkit  # noqa: E402
from testkit import Programs, check, free_port, post_control, read  # noqa: E402
TIP = "Vaux Aris 700"
MENU = ["Browser", "GUI", "IO Window", "Help", "Exit"]

try:
    import dbus
    import gi  # noqa: F401  (the stand-in host runs a GLib main loop)
except ImportError as e:
    dbus = None
    MISSING = f"python3-dbus or python3-gi is missing ({e})"


def eventually(predicate, timeout=15.0, what="condition"):
    return testkit.eventually(predicate, timeout, what, passing=dbus.DBusException)


def pid_alive(pid):
    """A process that runs; an ended one nobody has reaped yet (the daemon is
    detached, and a container's first process may not reap) counts as gone."""
    status = read(f"/proc/{pid}/status")
    return bool(status) and "\nState:\tZ" not in status


class Desktop(Programs):
    """A private session bus, the notification host stand-in, Xvfb, and the
    trays started on them."""

    def __init__(self, work):
        super().__init__(work)
        self.http_port = free_port()
        self.write_ini("Corvane.ini",
                       f"[Vaux]\r\nHTTPBindAddress=127.0.0.1\r\nHTTPPort={self.http_port}\r\n")
        self.write_ini("zynXap.ini", "[Interface]\r\nBroadcastAddress=127.255.255.255\r\n")

    def start(self):
        bus = self.procs["dbus"] = subprocess.Popen(
            ["dbus-daemon", "--session", "--nofork", "--nopidfile", "--print-address=1"],
            stdout=subprocess.PIPE)
        self.bus_address = bus.stdout.readline().decode().strip()
        self.env = dict(os.environ, DBUS_SESSION_BUS_ADDRESS=self.bus_address)
        xvfb = self.procs["xvfb"] = subprocess.Popen(
            ["Xvfb", "-displayfd", "1", "-screen", "0", "1280x800x24", "-nolisten", "tcp"],
            stdout=subprocess.PIPE)
        display = xvfb.stdout.readline().decode().strip()  # once it accepts clients
        self.env.update(DISPLAY=f":{display}", QT_QPA_PLATFORM="xcb",
                        XDG_RUNTIME_DIR=self.work)
        self.env.pop("WAYLAND_DISPLAY", None)
        self.spawn("watcher", [sys.executable, os.path.join(HERE, "sni_watcher.py")], self.env)
        eventually(lambda: "READY" in self.log("watcher"), what="the notification host")
        self.bus = dbus.bus.BusConnection(self.bus_address)

    def tray(self, name, home=None):
        return self.spawn(name, [os.path.join(self.bin, "corvane-tray"), "--home",
                                 home or self.home, "--no-dialogs",
                                 "--daemon", os.path.join(self.bin, "corvane")], self.env)

    def items(self):
        return [line.split()[1:] for line in self.log("watcher").splitlines()
                if line.startswith("ITEM ")]

    def item(self, count=1):
        """The `count`th tray item to register, once it has."""
        items = eventually(lambda: len(self.items()) >= count and self.items(),
                           what="the tray item to register")
        return Item(self.bus, items[count - 1][1])

    def daemon(self):
        """(pid, port) of the running daemon from the home's lock file, else None."""
        text = read(os.path.join(self.home, "corvane.pid")).split()
        if len(text) >= 2 and pid_alive(int(text[0])):
            return int(text[0]), int(text[1])
        return None

    def run(self, case):
        case(self)

    def report(self):
        super().report()
        print(f"--- daemon log\n{read(os.path.join(self.home, 'Data', 'corvane.log'))[-3000:]}")

    def close(self):
        info = self.daemon()
        super().close()
        if info and pid_alive(info[0]):  # a daemon a failed case left behind
            os.kill(info[0], signal.SIGTERM)


class Item:
    """A registered StatusNotifierItem and its exported menu."""

    def __init__(self, bus, service):
        self.bus, self.service = bus, service
        self.props = dbus.Interface(bus.get_object(service, "/StatusNotifierItem"),
                                    dbus.PROPERTIES_IFACE)

    def prop(self, name):
        return self.props.Get("org.kde.StatusNotifierItem", name)

    def menu(self):
        return dbus.Interface(self.bus.get_object(self.service, self.prop("Menu")),
                              "com.canonical.dbusmenu")

    def entries(self):
        """{label: id} of the menu's visible entries in order, separators left out."""
        _, (_, _, children) = self.menu().GetLayout(0, -1, [])
        return {str(props.get("label", "")).replace("&", ""): int(ident)
                for ident, props, _ in children
                if props.get("type") != "separator" and props.get("visible", True)}

    def click(self, label):
        self.menu().AboutToShow(0)
        self.menu().Event(self.entries()[label], "clicked", dbus.Int32(0, variant_level=1),
                          dbus.UInt32(0))


def case_menu(desktop):
    tray = desktop.tray("tray")
    item = desktop.item()
    _, _, title, text = item.prop("ToolTip")
    check((str(title) or str(text)) == TIP, f"tool tip {title!r} {text!r}")
    check(str(item.prop("Status")) in ("Active", "Passive"), "item status")
    eventually(lambda: list(item.entries()) == MENU, what=f"the menu {MENU}")
    pid, port = eventually(desktop.daemon, what="the daemon to start")
    check(port == desktop.http_port, f"web port {port}")

    # A second tray for the same home attaches to the same daemon.
    second = desktop.tray("second")
    second_item = desktop.item(2)
    time.sleep(1.0)
    check(desktop.daemon() == (pid, port), "the second tray started another daemon")
    check("did not start" not in desktop.log("second"), desktop.log("second"))
    # Its Exit leaves the daemon it did not start running.
    second_item.click("Exit")
    eventually(lambda: second.poll() is not None, what="the second tray to end")
    check(desktop.daemon() == (pid, port), "the second tray's Exit stopped the daemon")

    # The daemon killed: the menu offers a start, which starts it again.
    os.kill(pid, signal.SIGKILL)
    eventually(lambda: list(item.entries())[:1] == ["Start Corvane"],
               what="the menu to offer a start")
    check(list(item.entries())[1:] == MENU, f"menu while stopped {list(item.entries())}")
    check("Corvane is not running for" in desktop.log("tray"), "the tray says the daemon is gone")
    item.click("Start Corvane")
    new_pid, _ = eventually(desktop.daemon, what="the daemon to start again")
    check(new_pid != pid, "a new daemon")
    eventually(lambda: list(item.entries()) == MENU, what="the menu without the start entry")
    item.click("Exit")
    eventually(lambda: tray.poll() is not None, what="the tray to end")
    check(tray.returncode == 0, f"tray exit code {tray.returncode}")
    eventually(lambda: not pid_alive(new_pid),  # it lets go of its lock before it ends
               what="Exit to end the daemon it started")
    check(desktop.daemon() is None, "the lock file still names a daemon")


def case_blink(desktop):
    sim_port = desktop.start_sim()
    digest = hashlib.sha256(b"s4ltpw").hexdigest()
    desktop.write_ini("Corvane.ini",
                      f"[Settings]\r\nUseSecurity=BASIC\r\n[WebUsers]\r\nanna=s4lt:{digest}\r\n"
                      f"[Vaux]\r\nHTTPBindAddress=127.0.0.2\r\nHTTPPort={desktop.http_port}\r\n"
                      f"UPBCommPort={sim_port}\r\nSerialIP=127.0.0.1\r\n")
    tray = desktop.tray("tray")
    item = desktop.item()
    eventually(desktop.daemon, what="the daemon to start")
    # The tray follows the daemon's traffic once its picture settles.
    settled = []

    def icons_settled():
        settled.append(desktop.log("watcher").count("NEWICON"))
        return len(settled) > 20 and settled[-1] == settled[-20]
    eventually(icons_settled, what="the icon to settle")
    normal = bytes(item.prop("IconPixmap")[0][2])
    icons_before = settled[-1]
    print(f"icons before the command: {icons_before}")
    # Zone 4 on, then off, ...: a few commands at most, in case the tray was
    # still connecting to the daemon's echo stream when the first went out.
    for attempt in range(4):
        post_control(f"http://127.0.0.2:{desktop.http_port}/status", "V10",
                     "On" if attempt % 2 == 0 else "Off",
                     {"Authorization": "Basic YW5uYTpwdw=="})  # anna:pw
        with contextlib.suppress(testkit.Failure):  # lit and back: two new pictures
            eventually(lambda: desktop.log("watcher").count("NEWICON") >= icons_before + 2,
                       timeout=4, what="the icon to blink")
            break
    else:
        raise testkit.Failure("the icon did not blink")
    eventually(lambda: bytes(item.prop("IconPixmap")[0][2]) == normal, timeout=15,
               what="the icon to return to its normal picture")
    check(any("<- VP2104" in line for line in desktop.log("vaux-sim").splitlines()),
          "the command reached the controller")
    item.click("Exit")
    eventually(lambda: tray.poll() is not None, what="the tray to end")


def case_home(desktop):
    # A home folder inside a file (the notification host's log) cannot be made.
    tray = desktop.tray("tray", home=os.path.join(desktop.work, "watcher.log", "home"))
    check(tray.wait(20) == 1, f"exit code {tray.returncode}")
    text = desktop.log("tray")
    check("Corvane cannot use the home folder" in text and "cannot create" in text,
          f"message {text!r}")
    check(desktop.items() == [], "a tray without a home registered an icon")


CASES = {"menu": case_menu, "blink": case_blink, "home": case_home}


def missing():
    if not (shutil.which("dbus-daemon") and shutil.which("Xvfb")):
        return "dbus-daemon or Xvfb is missing (Debian packages dbus and xvfb)"
    if not os.path.exists(os.path.join(testkit.BIN_DIR, "corvane-tray")):
        return "corvane-tray was not built (no Qt 6)"
    return None if dbus else MISSING


if __name__ == "__main__":
    sys.exit(testkit.main(CASES, __doc__, "corvane-tray", Desktop, missing()))

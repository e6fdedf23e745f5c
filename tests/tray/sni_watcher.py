#!/usr/bin/python3
"""A stand-in for the desktop's notification host: owns
org.kde.StatusNotifierWatcher on the session bus, says a host is there,
prints "ITEM <sender> <service>" for every item that registers and
"NEWICON <sender>" for every new picture an item announces.
Runs until killed."""
import sys

import dbus
import dbus.service
from dbus.mainloop.glib import DBusGMainLoop
from gi.repository import GLib

IFACE = "org.kde.StatusNotifierWatcher"
# Qt reads IsStatusNotifierHostRegistered through introspection, so the
# description must name the properties (dbus-python's own lists none).
PROPERTIES = """    <property name="RegisteredStatusNotifierItems" type="as" access="read"/>
    <property name="IsStatusNotifierHostRegistered" type="b" access="read"/>
    <property name="ProtocolVersion" type="i" access="read"/>
"""


class Watcher(dbus.service.Object):
    def __init__(self, bus):
        self.items = []
        self.name = dbus.service.BusName(IFACE, bus)
        super().__init__(self.name, "/StatusNotifierWatcher")

    @dbus.service.method(IFACE, in_signature="s", out_signature="", sender_keyword="sender")
    def RegisterStatusNotifierItem(self, service, sender=None):
        self.items.append(f"{sender}{service}" if service.startswith("/") else service)
        print(f"ITEM {sender} {service}", flush=True)
        self.StatusNotifierItemRegistered(service)

    @dbus.service.signal(IFACE, signature="s")
    def StatusNotifierItemRegistered(self, service):
        pass

    @dbus.service.method(dbus.INTROSPECTABLE_IFACE, in_signature="", out_signature="s",
                         path_keyword="path", connection_keyword="connection")
    def Introspect(self, path, connection):
        head = f'<interface name="{IFACE}">\n'
        return super().Introspect(path, connection).replace(head, head + PROPERTIES)

    @dbus.service.method(dbus.PROPERTIES_IFACE, in_signature="ss", out_signature="v")
    def Get(self, interface, prop):
        return self.GetAll(interface)[prop]

    @dbus.service.method(dbus.PROPERTIES_IFACE, in_signature="s", out_signature="a{sv}")
    def GetAll(self, interface):
        return {
            "IsStatusNotifierHostRegistered": dbus.Boolean(True),
            "ProtocolVersion": dbus.Int32(0),
            "RegisteredStatusNotifierItems": dbus.Array(self.items, signature="s"),
        }


def main():
    DBusGMainLoop(set_as_default=True)
    bus = dbus.SessionBus()
    Watcher(bus)
    bus.add_signal_receiver(lambda sender=None: print(f"NEWICON {sender}", flush=True),
                            signal_name="NewIcon", dbus_interface="org.kde.StatusNotifierItem",
                            sender_keyword="sender")
    print("READY", flush=True)
    GLib.MainLoop().run()


if __name__ == "__main__":
    sys.exit(main())

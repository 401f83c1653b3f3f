#!/usr/bin/python3
"""Stand-in StatusNotifierWatcher for the Linux tests: owns
org.kde.StatusNotifierWatcher on the session bus, says that a tray host is
registered (Qt only shows its icon over D-Bus then) and keeps the list of
registered items, dropping an item when its owner leaves the bus. A test can make it say
that no host is registered, as before a desktop's panel has started, and
register one later (org.orlimo.Test.SetHostRegistered), and make its next
queries of IsStatusNotifierHostRegistered and registrations fail, as a
watcher that has just started may (FailNext; Queries counts the queries).

    /usr/bin/python3 tests/linux/sni_watcher.py

Prints "ready" once the name is owned; runs until it is terminated.
"""

import signal
import sys

import dbus
import dbus.service
from dbus.mainloop.glib import DBusGMainLoop
from gi.repository import GLib

NAME = "org.kde.StatusNotifierWatcher"
TEST = "org.orlimo.Test"
PATH = "/StatusNotifierWatcher"

# Qt reads IsStatusNotifierHostRegistered through an introspected interface,
# and dbus-python's own introspection lists no properties.
INTROSPECTION = """<!DOCTYPE node PUBLIC "-//freedesktop//DTD D-BUS Object Introspection 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/introspect.dtd">
<node>
 <interface name="org.freedesktop.DBus.Introspectable">
  <method name="Introspect"><arg name="data" direction="out" type="s"/></method>
 </interface>
 <interface name="org.freedesktop.DBus.Properties">
  <method name="Get"><arg direction="in" type="s"/><arg direction="in" type="s"/><arg direction="out" type="v"/></method>
  <method name="GetAll"><arg direction="in" type="s"/><arg direction="out" type="a{sv}"/></method>
 </interface>
 <interface name="org.kde.StatusNotifierWatcher">
  <method name="RegisterStatusNotifierItem"><arg name="service" direction="in" type="s"/></method>
  <method name="RegisterStatusNotifierHost"><arg name="service" direction="in" type="s"/></method>
  <signal name="StatusNotifierItemRegistered"><arg type="s"/></signal>
  <signal name="StatusNotifierItemUnregistered"><arg type="s"/></signal>
  <signal name="StatusNotifierHostRegistered"/>
  <property name="RegisteredStatusNotifierItems" type="as" access="read"/>
  <property name="IsStatusNotifierHostRegistered" type="b" access="read"/>
  <property name="ProtocolVersion" type="i" access="read"/>
 </interface>
</node>"""


class NotReady(dbus.DBusException):
    _dbus_error_name = "org.orlimo.Test.Error.NotReady"


class Watcher(dbus.service.Object):
    def __init__(self, bus):
        super().__init__(bus, PATH)
        self.bus = bus
        self.items = []  # "busname" or "busname/path"
        self.host = True
        self.fail_queries = 0        # the next queries and registrations that
        self.fail_registrations = 0  # fail, as a watcher not yet ready does
        self.queries = 0
        bus.add_signal_receiver(self.owner_changed, "NameOwnerChanged",
                                "org.freedesktop.DBus", "org.freedesktop.DBus")

    def owner_changed(self, name, old, new):
        if new:
            return
        for item in [i for i in self.items if i.split("/")[0] == name]:
            self.items.remove(item)
            self.StatusNotifierItemUnregistered(item)

    @dbus.service.method(dbus.INTROSPECTABLE_IFACE, out_signature="s")
    def Introspect(self):
        return INTROSPECTION

    @dbus.service.method(dbus.PROPERTIES_IFACE, in_signature="ss", out_signature="v")
    def Get(self, interface, prop):
        if prop == "IsStatusNotifierHostRegistered":
            self.queries += 1
            if self.fail_queries > 0:
                self.fail_queries -= 1
                raise NotReady("not ready yet")
        return self.GetAll(interface)[prop]

    @dbus.service.method(dbus.PROPERTIES_IFACE, in_signature="s", out_signature="a{sv}")
    def GetAll(self, interface):
        return {"RegisteredStatusNotifierItems": dbus.Array(self.items, signature="s"),
                "IsStatusNotifierHostRegistered": dbus.Boolean(self.host),
                "ProtocolVersion": dbus.Int32(0)}

    @dbus.service.method(NAME, in_signature="s", sender_keyword="sender")
    def RegisterStatusNotifierItem(self, service, sender=None):
        if self.fail_registrations > 0:
            self.fail_registrations -= 1
            raise NotReady("not ready yet")
        # An item names either its bus name or (KDE's form) its object path.
        item = sender + service if service.startswith("/") else str(service)
        if item not in self.items:
            self.items.append(item)
        self.StatusNotifierItemRegistered(item)

    @dbus.service.method(NAME, in_signature="s")
    def RegisterStatusNotifierHost(self, service):
        self.StatusNotifierHostRegistered()

    @dbus.service.method(TEST, in_signature="b")
    def SetHostRegistered(self, registered):
        self.host = bool(registered)
        if self.host:
            self.StatusNotifierHostRegistered()

    @dbus.service.method(TEST, in_signature="ii")
    def FailNext(self, queries, registrations):
        self.fail_queries, self.fail_registrations = queries, registrations

    @dbus.service.method(TEST, out_signature="i")
    def Queries(self):
        return self.queries

    @dbus.service.signal(NAME, signature="s")
    def StatusNotifierItemRegistered(self, item):
        pass

    @dbus.service.signal(NAME, signature="s")
    def StatusNotifierItemUnregistered(self, item):
        pass

    @dbus.service.signal(NAME)
    def StatusNotifierHostRegistered(self):
        pass


def main():
    DBusGMainLoop(set_as_default=True)
    bus = dbus.SessionBus()
    name = dbus.service.BusName(NAME, bus, do_not_queue=True)  # noqa: F841 (kept alive)
    Watcher(bus)
    loop = GLib.MainLoop()
    GLib.unix_signal_add(GLib.PRIORITY_DEFAULT, signal.SIGTERM, loop.quit)
    print("ready", flush=True)
    loop.run()
    return 0


if __name__ == "__main__":
    sys.exit(main())

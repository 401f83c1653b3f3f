#!/usr/bin/python3
"""Stand-ins for what a desktop tells a program about its user, for the
Linux tests:

    desktop_stand_ins.py notifications ADDRESS
        owns org.freedesktop.Notifications on the bus at ADDRESS, with the
        Inhibited property (false at start); org.orlimo.Test.SetInhibited(b)
        changes it and emits PropertiesChanged, as a notification server
        does when the user turns "do not disturb" on or off
    desktop_stand_ins.py logind ADDRESS
        owns org.freedesktop.login1 on the bus at ADDRESS (a private
        "system bus"); org.orlimo.Test.Sleep(b) emits the Manager's
        PrepareForSleep(b), as logind does before a suspend (true) and after
        the wake (false)

Prints "ready" once the name is owned; runs until it is terminated.
"""

import signal
import sys

import dbus
import dbus.bus
import dbus.service
from dbus.mainloop.glib import DBusGMainLoop
from gi.repository import GLib

TEST = "org.orlimo.Test"
NOTIFICATIONS = "org.freedesktop.Notifications"
PROPERTIES = "org.freedesktop.DBus.Properties"
LOGIN1 = "org.freedesktop.login1"
MANAGER = "org.freedesktop.login1.Manager"


class Notifications(dbus.service.Object):
    def __init__(self, bus):
        super().__init__(bus, "/org/freedesktop/Notifications")
        self.inhibited = False

    @dbus.service.method(PROPERTIES, in_signature="ss", out_signature="v")
    def Get(self, interface, name):
        if interface == NOTIFICATIONS and name == "Inhibited":
            return dbus.Boolean(self.inhibited)
        raise dbus.exceptions.DBusException("no such property", name="org.freedesktop.DBus.Error.UnknownProperty")

    @dbus.service.method(PROPERTIES, in_signature="s", out_signature="a{sv}")
    def GetAll(self, interface):
        return {"Inhibited": dbus.Boolean(self.inhibited)} if interface == NOTIFICATIONS else {}

    @dbus.service.signal(PROPERTIES, signature="sa{sv}as")
    def PropertiesChanged(self, interface, changed, invalidated):
        pass

    @dbus.service.method(TEST, in_signature="b")
    def SetInhibited(self, inhibited):
        self.inhibited = bool(inhibited)
        self.PropertiesChanged(NOTIFICATIONS, {"Inhibited": dbus.Boolean(self.inhibited)},
                               dbus.Array([], signature="s"))


class Login1(dbus.service.Object):
    def __init__(self, bus):
        super().__init__(bus, "/org/freedesktop/login1")

    @dbus.service.signal(MANAGER, signature="b")
    def PrepareForSleep(self, start):
        pass

    @dbus.service.method(TEST, in_signature="b")
    def Sleep(self, start):
        self.PrepareForSleep(bool(start))


def main():
    role, address = sys.argv[1], sys.argv[2]
    DBusGMainLoop(set_as_default=True)
    bus = dbus.bus.BusConnection(address)
    name, kind = {"notifications": (NOTIFICATIONS, Notifications), "logind": (LOGIN1, Login1)}[role]
    if bus.request_name(name, dbus.bus.NAME_FLAG_DO_NOT_QUEUE) != dbus.bus.REQUEST_NAME_REPLY_PRIMARY_OWNER:
        sys.exit("%s is taken" % name)
    keep = kind(bus)  # noqa: F841 (exported while the loop runs)
    loop = GLib.MainLoop()
    signal.signal(signal.SIGTERM, lambda *a: loop.quit())
    print("ready", flush=True)
    loop.run()


if __name__ == "__main__":
    main()

#!/usr/bin/python3
# A StatusNotifierItem watcher with a host registered, as a panel that takes SNI icons runs it, on
# the session bus. Prints "ready" once it owns its name, then "item <service> <path>" for every
# RegisterStatusNotifierItem call and "asked <property>" for every property read, flushed at once.
# Lines on its input, each told back ("told <line>") once it holds:
#   "host gone", "host back": the host leaves or comes back while the watcher stays;
#   "quiet": from then on no signal says so (as Debian's watcher);
#   "errors": every read is answered with an error ("erred"); "errors after one": the next read
#   is answered, later ones with errors;
#   "hold": the next read is never answered ("held <property>"), later ones are;
#   "look first": each read is answered only once the last icon registered has answered a read of
#   its own, so only while that icon's program dispatches its calls;
#   "answer": reads are answered at once again.
import sys

import dbus
import dbus.service
from dbus.mainloop.glib import DBusGMainLoop
from gi.repository import GLib

NAME = "org.kde.StatusNotifierWatcher"
# Qt reads the properties through an interface made from this description.
INTROSPECTION = """<node>
 <interface name="org.kde.StatusNotifierWatcher">
  <method name="RegisterStatusNotifierItem"><arg name="service" type="s" direction="in"/></method>
  <method name="RegisterStatusNotifierHost"><arg name="service" type="s" direction="in"/></method>
  <property name="RegisteredStatusNotifierItems" type="as" access="read"/>
  <property name="IsStatusNotifierHostRegistered" type="b" access="read"/>
  <property name="ProtocolVersion" type="i" access="read"/>
  <signal name="StatusNotifierItemRegistered"><arg type="s"/></signal>
  <signal name="StatusNotifierHostRegistered"/>
  <signal name="StatusNotifierHostUnregistered"/>
 </interface>
 <interface name="org.freedesktop.DBus.Properties">
  <method name="Get"><arg type="s" direction="in"/><arg type="s" direction="in"/><arg type="v" direction="out"/></method>
  <method name="GetAll"><arg type="s" direction="in"/><arg type="a{sv}" direction="out"/></method>
 </interface>
 <interface name="org.freedesktop.DBus.Introspectable">
  <method name="Introspect"><arg type="s" direction="out"/></method>
 </interface>
</node>"""


class Watcher(dbus.service.Object):
    def __init__(self, bus):
        super().__init__(bus, "/StatusNotifierWatcher")
        self.items = []
        self.icon = None  # the last icon registered: its bus name and path
        self.host = True
        self.quiet = False
        self.answers = "answer"
        self.spare = 0  # reads still answered before the errors
        self.hold = False
        self.held = []

    @dbus.service.method(NAME, in_signature="s", sender_keyword="sender")
    def RegisterStatusNotifierItem(self, service, sender=None):
        # An item names its bus name, or its object path on the caller's connection.
        path = service if service.startswith("/") else "/StatusNotifierItem"
        owner = sender if service.startswith("/") else service
        self.items.append(owner + path)
        self.icon = (owner, path)
        print("item", owner, path, flush=True)
        self.StatusNotifierItemRegistered(owner + path)

    @dbus.service.method(NAME, in_signature="s")
    def RegisterStatusNotifierHost(self, service):
        pass

    @dbus.service.signal(NAME, signature="s")
    def StatusNotifierItemRegistered(self, item):
        pass

    @dbus.service.signal(NAME)
    def StatusNotifierHostRegistered(self):
        pass

    @dbus.service.signal(NAME)
    def StatusNotifierHostUnregistered(self):
        pass

    def told(self, source, condition):
        line = source.readline().strip()
        if line in ("host gone", "host back"):
            self.host = line == "host back"
            if not self.quiet:
                (self.StatusNotifierHostRegistered if self.host else self.StatusNotifierHostUnregistered)()
        elif line == "quiet":
            self.quiet = True
        elif line == "hold":
            self.hold = True
            self.answers = "answer"
        elif line in ("errors", "errors after one", "look first", "answer"):
            self.answers = "errors" if line.startswith("errors") else line
            self.spare = 1 if line == "errors after one" else 0
        if line:
            print("told", line, flush=True)
        return bool(line)

    @dbus.service.method(dbus.INTROSPECTABLE_IFACE, out_signature="s")
    def Introspect(self):
        return INTROSPECTION

    @dbus.service.method(
        dbus.PROPERTIES_IFACE, in_signature="ss", out_signature="v", async_callbacks=("reply", "error")
    )
    def Get(self, interface, prop, reply, error):
        print("asked", prop, flush=True)
        answer = lambda *_: reply(self.GetAll(interface)[prop])
        if self.hold:
            self.hold = False
            self.held.append(reply)
            print("held", prop, flush=True)
        elif self.answers == "errors" and not self.spare:
            print("erred", prop, flush=True)
            error(dbus.exceptions.DBusException("busy", name="org.freedesktop.DBus.Error.Failed"))
        elif self.answers == "look first" and self.icon:
            owner, path = self.icon
            self.connection.call_async(
                owner, path, dbus.PROPERTIES_IFACE, "Get", "ss", ("org.kde.StatusNotifierItem", "Id"), answer, answer
            )
        else:
            self.spare = max(self.spare - 1, 0)
            answer()

    @dbus.service.method(dbus.PROPERTIES_IFACE, in_signature="s", out_signature="a{sv}")
    def GetAll(self, interface):
        return {
            "RegisteredStatusNotifierItems": dbus.Array(self.items, signature="s"),
            "IsStatusNotifierHostRegistered": dbus.Boolean(self.host),
            "ProtocolVersion": dbus.Int32(0),
        }


DBusGMainLoop(set_as_default=True)
bus = dbus.SessionBus()
watcher = Watcher(bus)
name = dbus.service.BusName(NAME, bus, do_not_queue=True)
GLib.io_add_watch(sys.stdin, GLib.IO_IN | GLib.IO_HUP, watcher.told)
print("ready", flush=True)
sys.stdout.flush()
GLib.MainLoop().run()

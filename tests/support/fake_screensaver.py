#!/usr/bin/python3
"""A desktop's org.freedesktop.ScreenSaver on a given bus, as GNOME's and KDE's keep it: Inhibit
hands out a cookie, UnInhibit takes it back, and a client that leaves the bus loses its cookies.

Usage: fake_screensaver.py ADDRESS LOG [--delay SECONDS]
--delay answers each Inhibit that long after it came (a busy service). One line a fact in LOG,
written at once:
  ready
  asked SENDER                   (an Inhibit came; answered now or after the delay)
  inhibit COOKIE SENDER APPLICATION
  uninhibit COOKIE SENDER
  uninhibit-unknown COOKIE SENDER
  gone SENDER COOKIES-IT-STILL-HELD  (dropped as the client left)
  left SENDER                    (a client that had asked left the bus)
  active N                       (on SIGTERM, then it ends)
"""
import argparse
import signal
import sys

import dbus
import dbus.service
from dbus.mainloop.glib import DBusGMainLoop
from gi.repository import GLib

NAME = "org.freedesktop.ScreenSaver"


LOG = None


def say(*words):
    print(*words, file=LOG, flush=True)


class ScreenSaver(dbus.service.Object):
    def __init__(self, bus, delay):
        super().__init__(bus, "/org/freedesktop/ScreenSaver")
        self.delay = delay
        self.cookies = {}  # cookie -> sender
        self.askers = set()
        self.next_cookie = 1

    def grant(self, sender, application):
        cookie = self.next_cookie
        self.next_cookie += 1
        self.cookies[cookie] = sender
        say("inhibit", cookie, sender, application)
        return dbus.UInt32(cookie)

    @dbus.service.method(NAME, in_signature="ss", out_signature="u", sender_keyword="sender",
                         async_callbacks=("reply", "error"))
    def Inhibit(self, application, reason, sender=None, reply=None, error=None):
        say("asked", sender)
        self.askers.add(sender)
        if self.delay <= 0:
            reply(self.grant(sender, application))
            return

        def later():
            reply(self.grant(sender, application))
            return False

        GLib.timeout_add(int(self.delay * 1000), later)

    @dbus.service.method(NAME, in_signature="u", out_signature="", sender_keyword="sender")
    def UnInhibit(self, cookie, sender=None):
        if self.cookies.get(int(cookie)) == sender:
            del self.cookies[int(cookie)]
            say("uninhibit", int(cookie), sender)
        else:
            say("uninhibit-unknown", int(cookie), sender)

    def owner_changed(self, name, old, new):
        if not name.startswith(":") or new or name not in self.askers:
            return
        held = [c for c, s in self.cookies.items() if s == name]
        for cookie in held:
            del self.cookies[cookie]
        if held:
            say("gone", name, len(held))
        say("left", name)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("address")
    parser.add_argument("log")
    parser.add_argument("--delay", type=float, default=0.0)
    options = parser.parse_args()
    global LOG
    LOG = open(options.log, "w", encoding="utf-8")
    DBusGMainLoop(set_as_default=True)
    bus = dbus.bus.BusConnection(options.address)
    service = ScreenSaver(bus, options.delay)
    bus.add_signal_receiver(service.owner_changed, "NameOwnerChanged", "org.freedesktop.DBus",
                            "org.freedesktop.DBus", "/org/freedesktop/DBus")
    loop = GLib.MainLoop()

    def end():
        say("active", len(service.cookies))
        loop.quit()
        return False

    GLib.unix_signal_add(GLib.PRIORITY_DEFAULT, signal.SIGTERM, end)
    bus.request_name(NAME, dbus.bus.NAME_FLAG_DO_NOT_QUEUE)
    say("ready")
    loop.run()


if __name__ == "__main__":
    sys.exit(main())

#!/usr/bin/python3
# A keyring unlock prompt that nobody answers, as on a desktop where the
# user has walked away: owns the names of the desktop's password prompters
# on the session bus and swallows every call made to them, never replying.
# A program that waits for an unlock then waits until the bus gives up
# (25 seconds). Run inside tests/support/keyring_session.sh; prints "ready"
# once the names are taken and runs until it is ended.
import sys

import dbus
import dbus.lowlevel
import dbus.mainloop.glib
from gi.repository import GLib

dbus.mainloop.glib.DBusGMainLoop(set_as_default=True)
bus = dbus.SessionBus()


def swallow(connection, message):
    if message.get_type() == dbus.lowlevel.MESSAGE_TYPE_METHOD_CALL:
        return dbus.lowlevel.HANDLER_RESULT_HANDLED
    return dbus.lowlevel.HANDLER_RESULT_NOT_YET_HANDLED


bus.add_message_filter(swallow)
for name in ("org.gnome.keyring.SystemPrompter", "org.gnome.keyring.PrivatePrompter"):
    if bus.request_name(name) != dbus.bus.REQUEST_NAME_REPLY_PRIMARY_OWNER:
        sys.exit("silent_prompter.py: could not take " + name)
print("ready", flush=True)
GLib.MainLoop().run()

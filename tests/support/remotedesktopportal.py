'''A stand-in for the desktop's RemoteDesktop portal, for python-dbusmock.

It answers CreateSession, SelectDevices and Start as the GlobalShortcuts stand-in answers its
requests, and forwards a started session's keys to mutter's own remote desktop on the same
bus. A Start without the restore token of an earlier grant stands for the desktop's dialog,
which the user grants; Dialogs() counts them.
'''

import os
import sys
import uuid

import dbus

from dbusmock import MOCK_IFACE

sys.path.insert(0, os.path.dirname(__file__))
from globalshortcutsportal import BUS_NAME, MAIN_OBJ, SYSTEM_BUS, handle, respond_later  # noqa: E402,F401

MAIN_IFACE = 'org.freedesktop.portal.RemoteDesktop'
KEYBOARD = 1


def load(mock, parameters):
    mock.tokens = set()
    mock.dialogs = 0
    mock.sessions = {}
    mock.AddProperties(MAIN_IFACE, dbus.Dictionary({'version': dbus.UInt32(2),
                                                    'AvailableDeviceTypes': dbus.UInt32(KEYBOARD)}, signature='sv'))


def mutter(path, interface):
    return dbus.Interface(dbus.SessionBus().get_object('org.gnome.Mutter.RemoteDesktop', path), interface)


@dbus.service.method(MAIN_IFACE, in_signature='a{sv}', out_signature='o', sender_keyword='sender')
def CreateSession(self, options, sender=None):
    session = handle('session', sender, options.get('session_handle_token', 'session'))
    self.AddObject(session, 'org.freedesktop.portal.Session', {}, [('Close', '', '', '')])
    self.sessions[session] = {'devices': 0, 'restore_token': '', 'mutter': None}
    return respond_later(self, sender, options, 0, {'session_handle': dbus.String(session)})


@dbus.service.method(MAIN_IFACE, in_signature='oa{sv}', out_signature='o', sender_keyword='sender')
def SelectDevices(self, session_handle, options, sender=None):
    self.sessions[str(session_handle)].update(devices=int(options.get('types', KEYBOARD)),
                                              restore_token=str(options.get('restore_token', '')),
                                              persist=int(options.get('persist_mode', 0)))
    return respond_later(self, sender, options, 0, {})


@dbus.service.method(MAIN_IFACE, in_signature='osa{sv}', out_signature='o', sender_keyword='sender')
def Start(self, session_handle, parent_window, options, sender=None):
    session = self.sessions[str(session_handle)]
    if session['restore_token'] not in self.tokens:
        self.dialogs += 1
    session['mutter'] = mutter('/org/gnome/Mutter/RemoteDesktop', 'org.gnome.Mutter.RemoteDesktop').CreateSession()
    mutter(session['mutter'], 'org.gnome.Mutter.RemoteDesktop.Session').Start()
    results = {'devices': dbus.UInt32(session['devices'])}
    if session['persist'] == 2:
        token = str(uuid.uuid4())
        self.tokens.add(token)
        results['restore_token'] = dbus.String(token)
    return respond_later(self, sender, options, 0, results)


@dbus.service.method(MAIN_IFACE, in_signature='oa{sv}iu', out_signature='')
def NotifyKeyboardKeysym(self, session_handle, options, keysym, state):
    session = self.sessions.get(str(session_handle))
    if not session or not session['mutter']:
        raise dbus.exceptions.DBusException('No such started session', name='org.freedesktop.DBus.Error.AccessDenied')
    mutter(session['mutter'], 'org.gnome.Mutter.RemoteDesktop.Session').NotifyKeyboardKeysym(
        dbus.UInt32(keysym), dbus.Boolean(state == 1))


@dbus.service.method(MOCK_IFACE, in_signature='', out_signature='u')
def Dialogs(self):
    return dbus.UInt32(self.dialogs)

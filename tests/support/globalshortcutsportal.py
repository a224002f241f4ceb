'''A stand-in for the desktop's GlobalShortcuts portal, for python-dbusmock.

CreateSession and BindShortcuts return a Request path at once and answer with its Response
signal, as xdg-desktop-portal does. Parameters: create_response and bind_response (the
Response codes; 1 = the user declined), kde (bind only the shortcuts that came with
CreateSession, as KDE's portal does), assign_triggers (false: no key for any shortcut).
'''

import dbus
from gi.repository import GLib

from dbusmock import MOCK_IFACE, mockobject

BUS_NAME = 'org.freedesktop.portal.Desktop'
MAIN_OBJ = '/org/freedesktop/portal/desktop'
MAIN_IFACE = 'org.freedesktop.portal.GlobalShortcuts'
SYSTEM_BUS = False


def load(mock, parameters):
    mock.create_response = parameters.get('create_response', 0)
    mock.bind_response = parameters.get('bind_response', 0)
    mock.kde = parameters.get('kde', False)
    mock.assign_triggers = parameters.get('assign_triggers', True)
    mock.sessions = {}
    mock.created_with = {}
    mock.AddProperties(MAIN_IFACE, dbus.Dictionary({'version': dbus.UInt32(1)}, signature='sv'))


def handle(kind, sender, token):
    '''The path the portal gives a caller's request or session.'''
    return f'{MAIN_OBJ}/{kind}/{sender[1:].replace(".", "_")}/{token}'


def respond_later(mock, sender, options, response, results):
    path = handle('request', sender, options.get('handle_token', 'untitled'))

    def emit():
        mock.EmitSignalDetailed('org.freedesktop.portal.Request', 'Response', 'ua{sv}',
                                [dbus.UInt32(response), dbus.Dictionary(results, signature='sv')], {'path': path})
        return False
    # After the method's reply, as the real portal does.
    GLib.timeout_add(20, emit)
    return dbus.ObjectPath(path)


@dbus.service.method(MAIN_IFACE, in_signature='a{sv}', out_signature='o', sender_keyword='sender')
def CreateSession(self, options, sender=None):
    session = handle('session', sender, options.get('session_handle_token', 'session'))
    results = {}
    if self.create_response == 0:
        if session not in mockobject.objects:
            self.AddObject(session, 'org.freedesktop.portal.Session', {}, [('Close', '', '', '')])
        self.sessions[session] = []
        self.created_with[session] = [str(shortcut_id) for shortcut_id, _ in options.get('shortcuts', [])]
        results['session_handle'] = dbus.String(session)
    return respond_later(self, sender, options, self.create_response, results)


@dbus.service.method(MAIN_IFACE, in_signature='oa(sa{sv})sa{sv}', out_signature='o', sender_keyword='sender')
def BindShortcuts(self, session_handle, shortcuts, parent_window, options, sender=None):
    results = {}
    if self.bind_response == 0:
        bound = [(shortcut_id, dbus.Dictionary({
            'description': properties.get('description', ''),
            'trigger_description': properties.get('preferred_trigger', '') if self.assign_triggers else '',
        }, signature='sv')) for shortcut_id, properties in shortcuts
            if not self.kde or str(shortcut_id) in self.created_with.get(str(session_handle), [])]
        self.sessions[str(session_handle)] = bound
        results['shortcuts'] = dbus.Array(bound, signature='(sa{sv})')
    return respond_later(self, sender, options, self.bind_response, results)


@dbus.service.method(MOCK_IFACE, in_signature='u', out_signature='')
def SetBindResponse(self, response):
    self.bind_response = response


@dbus.service.method(MOCK_IFACE, in_signature='', out_signature='as')
def GetSessions(self):
    return dbus.Array(list(self.sessions.keys()), signature='s')


@dbus.service.method(MOCK_IFACE, in_signature='s', out_signature='as')
def GetBound(self, session_handle):
    return dbus.Array([f'{shortcut_id}: {properties["description"]} [{properties["trigger_description"]}]'
                       for shortcut_id, properties in self.sessions.get(session_handle, [])], signature='s')


@dbus.service.method(MOCK_IFACE, in_signature='ss', out_signature='u')
def CallCount(self, path, method):
    return sum(1 for _, name, _ in mockobject.objects[path].call_log if name == method)


@dbus.service.method(MOCK_IFACE, in_signature='sss', out_signature='')
def EmitShortcut(self, signal, session_handle, shortcut_id):
    self.EmitSignal(MAIN_IFACE, signal, 'osta{sv}', [dbus.ObjectPath(session_handle), shortcut_id, dbus.UInt64(1234),
                                                     dbus.Dictionary({}, signature='sv')])


@dbus.service.method(MOCK_IFACE, in_signature='s', out_signature='')
def CloseSession(self, session_handle):
    self.EmitSignalDetailed('org.freedesktop.portal.Session', 'Closed', 'a{sv}', [dbus.Dictionary({}, signature='sv')],
                            {'path': session_handle})

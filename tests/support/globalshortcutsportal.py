'''A stand-in for the desktop's GlobalShortcuts portal, for python-dbusmock.

It answers CreateSession and BindShortcuts the way xdg-desktop-portal does: the call
returns a Request object path at once, and the result follows as that object's
Response signal. Parameters:
  version          the interface version property (default 1)
  create_response  Response code of CreateSession (default 0, success)
  bind_response    Response code of BindShortcuts (default 0; 1 = the user declined)
Tests emit Activated, Deactivated and a session's Closed through the mock interface.
'''

import dbus
from gi.repository import GLib

from dbusmock import MOCK_IFACE, mockobject

BUS_NAME = 'org.freedesktop.portal.Desktop'
MAIN_OBJ = '/org/freedesktop/portal/desktop'
MAIN_IFACE = 'org.freedesktop.portal.GlobalShortcuts'
SYSTEM_BUS = False

REQUEST_IFACE = 'org.freedesktop.portal.Request'
SESSION_IFACE = 'org.freedesktop.portal.Session'


def load(mock, parameters):
    mock.create_response = parameters.get('create_response', 0)
    mock.bind_response = parameters.get('bind_response', 0)
    # KDE's portal binds only the shortcuts that came with CreateSession.
    mock.kde = parameters.get('kde', False)
    # False: the desktop answers with no key for any shortcut.
    mock.assign_triggers = parameters.get('assign_triggers', True)
    mock.sessions = {}
    mock.created_with = {}
    mock.AddProperties(MAIN_IFACE, dbus.Dictionary({'version': dbus.UInt32(parameters.get('version', 1))},
                                                   signature='sv'))


def sender_path(sender):
    return sender[1:].replace('.', '_')


def respond_later(mock, path, response, results):
    def emit():
        mock.EmitSignalDetailed(REQUEST_IFACE, 'Response', 'ua{sv}',
                                [dbus.UInt32(response), dbus.Dictionary(results, signature='sv')],
                                {'path': path})
        return False
    # After the method's reply, as the real portal does.
    GLib.timeout_add(20, emit)


def request_path(sender, options):
    token = options.get('handle_token', 'untitled')
    return f'/org/freedesktop/portal/desktop/request/{sender_path(sender)}/{token}'


@dbus.service.method(MAIN_IFACE, in_signature='a{sv}', out_signature='o', sender_keyword='sender')
def CreateSession(self, options, sender=None):
    path = request_path(sender, options)
    session = f'/org/freedesktop/portal/desktop/session/{sender_path(sender)}/' \
              f'{options.get("session_handle_token", "session")}'
    results = {}
    if self.create_response == 0:
        if session not in mockobject.objects:
            self.AddObject(session, SESSION_IFACE, {}, [('Close', '', '', '')])
        self.sessions[session] = []
        self.created_with[session] = [str(shortcut_id) for shortcut_id, _ in options.get('shortcuts', [])]
        results['session_handle'] = dbus.String(session)
    respond_later(self, path, self.create_response, results)
    return dbus.ObjectPath(path)


@dbus.service.method(MAIN_IFACE, in_signature='oa(sa{sv})sa{sv}', out_signature='o', sender_keyword='sender')
def BindShortcuts(self, session_handle, shortcuts, parent_window, options, sender=None):
    path = request_path(sender, options)
    results = {}
    if self.bind_response == 0:
        bound = []
        for shortcut_id, properties in shortcuts:
            if self.kde and str(shortcut_id) not in self.created_with.get(str(session_handle), []):
                continue
            trigger = properties.get('preferred_trigger', '') if self.assign_triggers else ''
            bound.append(dbus.Struct((shortcut_id, dbus.Dictionary({
                'description': properties.get('description', ''),
                'trigger_description': trigger,
            }, signature='sv')), signature=None))
        self.sessions[str(session_handle)] = bound
        results['shortcuts'] = dbus.Array(bound, signature='(sa{sv})')
    respond_later(self, path, self.bind_response, results)
    return dbus.ObjectPath(path)


@dbus.service.method(MOCK_IFACE, in_signature='u', out_signature='')
def SetBindResponse(self, response):
    self.bind_response = response


@dbus.service.method(MOCK_IFACE, in_signature='', out_signature='as')
def GetSessions(self):
    '''The sessions created so far, oldest first.'''
    return dbus.Array(list(self.sessions.keys()), signature='s')


@dbus.service.method(MOCK_IFACE, in_signature='s', out_signature='a(sss)')
def GetBound(self, session_handle):
    '''The shortcuts bound in a session: id, description and the trigger asked for.'''
    return dbus.Array([(str(shortcut_id), str(properties['description']), str(properties['trigger_description']))
                       for shortcut_id, properties in self.sessions.get(session_handle, [])], signature='(sss)')

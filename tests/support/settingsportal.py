'''A stand-in for the desktop's Settings portal, for python-dbusmock.

ReadAll takes exact namespaces; Read wraps the value in a second variant as the first portal
versions did; a missing key is a NotFound error. Parameters:
  settings   {namespace: {key: value}}; JSON booleans stay booleans, whole numbers become
             uint32, other numbers doubles, text strings
  read_all   false leaves ReadAll out, as on portals that predate it (default true)
The mock method Change(namespace, key, value) stores a value, typed as the caller sent it, and
emits SettingChanged.
'''

import dbus

from dbusmock import MOCK_IFACE

BUS_NAME = 'org.freedesktop.portal.Desktop'
MAIN_OBJ = '/org/freedesktop/portal/desktop'
MAIN_IFACE = 'org.freedesktop.portal.Settings'
SYSTEM_BUS = False


def typed(value):
    types = {bool: dbus.Boolean, int: dbus.UInt32, float: dbus.Double, str: dbus.String}
    return types[type(value)](value)


def load(mock, parameters):
    mock.settings = {namespace: {key: typed(value) for key, value in keys.items()}
                     for namespace, keys in parameters.get('settings', {}).items()}
    if parameters.get('read_all', True):
        mock.read_all = lambda patterns: read_all(mock, patterns)
        mock.AddMethod(MAIN_IFACE, 'ReadAll', 'as', 'a{sa{sv}}', 'ret = self.read_all(args[0])')


def read_all(self, patterns):
    return dbus.Dictionary({namespace: dbus.Dictionary(keys, signature='sv')
                            for namespace, keys in self.settings.items() if namespace in patterns},
                           signature='sa{sv}')


@dbus.service.method(MAIN_IFACE, in_signature='ss', out_signature='v')
def Read(self, namespace, key):
    if key not in self.settings.get(namespace, {}):
        raise dbus.exceptions.DBusException(f'Requested setting {namespace} {key} not found',
                                            name='org.freedesktop.portal.Error.NotFound')
    value = self.settings[namespace][key]
    return type(value)(value, variant_level=2)


@dbus.service.method(MOCK_IFACE, in_signature='ssv', out_signature='')
def Change(self, namespace, key, value):
    self.settings.setdefault(namespace, {})[key] = value
    self.EmitSignal(MAIN_IFACE, 'SettingChanged', 'ssv', [namespace, key, value])

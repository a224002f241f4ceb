import QtQuick
import QtQuick.Controls.Basic
import QtQuick.Layouts
import Murmel

// Under the hotkey's permission row: why the hotkey does not reach every window, and the
// desktop's own way to bind the dictation command instead. Hidden while Murmel's own
// watch reaches everywhere.
ColumnLayout {
    id: help

    visible: DesktopHotkey.problem !== "" || DesktopHotkey.offersGnomeShortcut || DesktopHotkey.offersSwayLine
             || DesktopHotkey.offersCommand
    spacing: 8
    Layout.fillWidth: true
    // The user may have changed GNOME's shortcuts in its own settings since.
    Component.onCompleted: DesktopHotkey.refresh()

    // A line the user copies into their settings, selectable and with a Copy button.
    component CopyableLine: RowLayout {
        id: line
        property string text
        spacing: 8
        Layout.fillWidth: true
        TextEdit {
            id: field
            text: line.text
            readOnly: true
            selectByMouse: true
            color: Theme.ink
            font.family: "monospace"
            font.pixelSize: 12
            wrapMode: TextEdit.WrapAnywhere
            Layout.fillWidth: true
            Accessible.role: Accessible.EditableText
            Accessible.name: line.text
        }
        MurButton {
            text: qsTr("Copy")
            Accessible.name: qsTr("Copy %1").arg(line.text)
            onClicked: {
                field.selectAll()
                field.copy()
                field.deselect()
            }
        }
    }

    Label {
        objectName: "hotkeyProblem"
        visible: text !== ""
        text: DesktopHotkey.problem
        color: Theme.pink
        font.pixelSize: 12
        wrapMode: Text.Wrap
        Layout.fillWidth: true
    }

    // GNOME: Murmel writes the custom shortcut itself once the user asks for it.
    RowLayout {
        visible: DesktopHotkey.offersGnomeShortcut
        spacing: 8
        Layout.fillWidth: true
        Label {
            text: DesktopHotkey.gnomeShortcutSet
                  ? qsTr("✓ Set up in GNOME's keyboard shortcuts: the hotkey starts and stops dictation everywhere.")
                  : qsTr("GNOME can run “%1” on your hotkey. Murmel adds it to your custom keyboard shortcuts if you agree.").arg(DesktopHotkey.command)
            color: DesktopHotkey.gnomeShortcutSet ? Theme.confirm : Theme.body
            font.pixelSize: 12
            wrapMode: Text.Wrap
            Layout.fillWidth: true
        }
        MurButton {
            objectName: "gnomeShortcutButton"
            enabled: !DesktopHotkey.busy
            text: DesktopHotkey.gnomeShortcutSet ? qsTr("Remove") : qsTr("Add shortcut")
            Accessible.name: DesktopHotkey.gnomeShortcutSet ? qsTr("Remove Murmel's GNOME keyboard shortcut")
                                                           : qsTr("Add Murmel's hotkey to GNOME's keyboard shortcuts")
            onClicked: DesktopHotkey.gnomeShortcutSet ? DesktopHotkey.removeGnomeShortcut()
                                                      : DesktopHotkey.addGnomeShortcut()
        }
    }

    SettingsNote {
        visible: DesktopHotkey.offersSwayLine
        text: qsTr("Add this line to your sway config, then reload it (Super+Shift+C):")
    }
    CopyableLine {
        visible: DesktopHotkey.offersSwayLine
        text: DesktopHotkey.swayLine
    }

    SettingsNote {
        visible: DesktopHotkey.offersCommand
        text: qsTr("Bind this command to your hotkey in your desktop's keyboard settings:")
    }
    CopyableLine {
        visible: DesktopHotkey.offersCommand
        text: DesktopHotkey.command
    }
}

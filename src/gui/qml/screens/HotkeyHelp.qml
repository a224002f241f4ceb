import QtQuick
import QtQuick.Controls.Basic
import QtQuick.Layouts
import Murmel

// Under the hotkey's permission row: why the hotkey does not reach every window, and the
// desktop's own way to bind the dictation command instead. Hidden while Murmel's own
// watch reaches everywhere.
ColumnLayout {
    id: help
    required property QtObject desktopHotkey   // DesktopHotkey

    visible: desktopHotkey.problem !== "" || desktopHotkey.offersGnomeShortcut || desktopHotkey.offersSwayLine || desktopHotkey.offersCommand
    spacing: 8
    Layout.fillWidth: true
    // The user may have changed GNOME's shortcuts in its own settings since.
    Component.onCompleted: desktopHotkey.refresh()

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
            text: "Copy"
            Accessible.name: "Copy " + line.text
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
        text: help.desktopHotkey.problem
        color: Theme.pink
        font.pixelSize: 12
        wrapMode: Text.Wrap
        Layout.fillWidth: true
    }

    // GNOME: Murmel writes the custom shortcut itself once the user asks for it.
    RowLayout {
        visible: help.desktopHotkey.offersGnomeShortcut
        spacing: 8
        Layout.fillWidth: true
        Label {
            text: help.desktopHotkey.gnomeShortcutSet
                  ? "✓ Set up in GNOME's keyboard shortcuts: the hotkey starts and stops dictation everywhere."
                  : "GNOME can run “" + help.desktopHotkey.command + "” on your hotkey. Murmel adds it to your custom keyboard shortcuts if you agree."
            color: help.desktopHotkey.gnomeShortcutSet ? Theme.confirm : Theme.body
            font.pixelSize: 12
            wrapMode: Text.Wrap
            Layout.fillWidth: true
        }
        MurButton {
            objectName: "gnomeShortcutButton"
            enabled: !help.desktopHotkey.busy
            text: help.desktopHotkey.gnomeShortcutSet ? "Remove" : "Add shortcut"
            Accessible.name: help.desktopHotkey.gnomeShortcutSet ? "Remove Murmel's GNOME keyboard shortcut"
                                                                : "Add Murmel's hotkey to GNOME's keyboard shortcuts"
            onClicked: help.desktopHotkey.gnomeShortcutSet ? help.desktopHotkey.removeGnomeShortcut()
                                                           : help.desktopHotkey.addGnomeShortcut()
        }
    }

    SettingsNote {
        visible: help.desktopHotkey.offersSwayLine
        text: "Add this line to your sway config, then reload it (Super+Shift+C):"
    }
    CopyableLine {
        visible: help.desktopHotkey.offersSwayLine
        text: help.desktopHotkey.swayLine
    }

    SettingsNote {
        visible: help.desktopHotkey.offersCommand
        text: "Bind this command to your hotkey in your desktop's keyboard settings:"
    }
    CopyableLine {
        visible: help.desktopHotkey.offersCommand
        text: help.desktopHotkey.command
    }
}

import QtQuick
import QtQuick.Controls.Basic
import QtQuick.Layouts
import Murmel

// The settings screen's content: the sections of the open tab. Every value comes from the
// objects handed in; nothing is decided here.
ScrollView {
    id: view
    required property QtObject settings      // SettingsModel
    required property QtObject permissions   // Permissions
    required property QtObject desktopHotkey // DesktopHotkey
    required property QtObject recorder      // HotkeyRecorder
    required property QtObject models        // ModelListModel
    required property QtObject apiKey        // ApiKeyField
    required property QtObject styles        // CustomizationListModel of the styles
    required property QtObject rules         // CustomizationListModel of the dictionary
    required property QtObject egg           // EyeEgg of the About tab's eye

    contentWidth: availableWidth
    clip: true

    Loader {
        id: page
        objectName: "settingsPage"
        width: view.availableWidth
        sourceComponent: {
            switch (view.settings.settingsTab) {
            case "model": return modelTab
            case "cleanup": return cleanupTab
            case "dictionary": return dictionaryTab
            case "support": return supportTab
            case "about": return aboutTab
            default: return generalTab
            }
        }
    }

    Component {
        id: generalTab
        GeneralTab {
            settings: view.settings
            permissions: view.permissions
            desktopHotkey: view.desktopHotkey
            recorder: view.recorder
        }
    }
    Component {
        id: modelTab
        ModelTab { settings: view.settings; models: view.models }
    }
    Component {
        id: cleanupTab
        CleanupTab { settings: view.settings; apiKey: view.apiKey; styles: view.styles }
    }
    Component {
        id: dictionaryTab
        DictionaryTab { rules: view.rules }
    }
    Component {
        id: supportTab
        SupportTab { settings: view.settings }
    }
    Component {
        id: aboutTab
        AboutTab { settings: view.settings; egg: view.egg }
    }
}

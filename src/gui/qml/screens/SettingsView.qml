import QtQuick
import QtQuick.Controls.Basic
import QtQuick.Layouts
import Murmel

// The settings screen's content: the sections of the open tab. Every value comes from the
// application's objects; nothing is decided here.
ScrollView {
    id: view

    contentWidth: availableWidth
    clip: true

    Loader {
        id: page
        objectName: "settingsPage"
        width: view.availableWidth
        sourceComponent: {
            switch (Nav.settingsTab) {
            case Nav.SettingsTab.model: return modelTab
            case Nav.SettingsTab.cleanup: return cleanupTab
            case Nav.SettingsTab.dictionary: return dictionaryTab
            case Nav.SettingsTab.support: return supportTab
            case Nav.SettingsTab.about: return aboutTab
            default: return generalTab
            }
        }
    }

    Component { id: generalTab; GeneralTab {} }
    Component { id: modelTab; ModelTab {} }
    Component { id: cleanupTab; CleanupTab {} }
    Component { id: dictionaryTab; DictionaryTab {} }
    Component { id: supportTab; SupportTab {} }
    Component { id: aboutTab; AboutTab {} }
}

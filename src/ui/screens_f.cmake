# fragment (temporary; folded into the main lists after review)
# The history and settings screens with the settings tabs' parts. The tabs live in their own
# folder in the sources but beside the other screens in the module: Qt 6.4 does not resolve
# the module's own types (Theme, MUREye) from a file in a subfolder of it.
foreach(file AboutTab ChoiceBox CleanupTab DictionaryTab GeneralTab HotkeyRecorderField ModelTab
        SettingsNote SettingsRow SettingsSection SupportTab)
    set_source_files_properties(settings/${file}.qml PROPERTIES QT_RESOURCE_ALIAS ${file}.qml)
endforeach()
qt_target_qml_sources(murmel_ui QML_FILES
    HistoryView.qml
    SettingsTabs.qml
    SettingsView.qml
    settings/AboutTab.qml
    settings/ChoiceBox.qml
    settings/CleanupTab.qml
    settings/DictionaryTab.qml
    settings/GeneralTab.qml
    settings/HotkeyRecorderField.qml
    settings/ModelTab.qml
    settings/SettingsNote.qml
    settings/SettingsRow.qml
    settings/SettingsSection.qml
    settings/SupportTab.qml
)

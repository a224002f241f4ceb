import QtQuick
import QtQuick.Controls.Basic
import QtQuick.Layouts
import Murmel

// Model: how dictation trades speed for accuracy, and which model transcribes files.
ColumnLayout {
    id: tab
    required property QtObject settings
    required property QtObject models

    spacing: 16

    SettingsSection {
        title: "Dictation"
        SettingsRow {
            id: speedRow
            label: "Dictation speed"
            help: "Fast uses a compact model; Accurate reuses your file transcription model, which handles accents and non-native pronunciation noticeably better."
            Repeater {
                model: tab.settings.dictationSpeeds
                delegate: MurButton {
                    required property var modelData
                    objectName: "speed_" + modelData.value
                    primary: checked
                    text: modelData.label
                    checkable: true
                    checked: tab.settings.dictationSpeed === modelData.value
                    onClicked: {
                        tab.settings.dictationSpeed = modelData.value
                        checked = Qt.binding(() => tab.settings.dictationSpeed === modelData.value)
                    }
                    Accessible.name: "Dictation speed: " + modelData.label
                    help: speedRow.help
                }
            }
        }
        SettingsNote {
            text: "Dictation favors speed. Fast picks the quickest model that stays accurate for your language; the Claude cleanup pass, when on, tidies any rough edges. If English is not your first language, Accurate understands accented speech noticeably better and still lands under a second."
        }
        SettingsNote {
            visible: tab.settings.dictationSpeed === "accurate"
            text: "Uses your file transcription model below."
        }
        SettingsRow {
            label: tab.settings.dictationModelName
            ProgressBar {
                visible: tab.settings.dictationModelState === "downloading"
                from: 0
                to: 1
                value: tab.settings.downloadProgress
                Accessible.name: "Downloading " + tab.settings.dictationModelName
            }
            Label {
                visible: tab.settings.dictationModelState === "ready"
                text: "Ready"
                color: Theme.confirm
            }
            MurButton {
                objectName: "downloadDictationModel"
                visible: tab.settings.dictationModelState === "missing"
                text: "Download " + tab.settings.dictationModelName + " (" + tab.settings.dictationModelSize + ")"
                Accessible.name: text
                ToolTip.visible: hovered
                ToolTip.text: "Download the model dictation uses"
                onClicked: tab.settings.downloadDictationModel()
            }
        }
    }

    SettingsSection {
        title: "File transcription"
        SettingsNote {
            text: "File transcription favors accuracy. Runs on your computer, free and private. Bigger models are more accurate, smaller ones faster. Each downloads once."
        }
        Repeater {
            model: tab.models
            delegate: RowLayout {
                id: modelRow
                required property string rawValue
                required property string displayName
                required property string sizeLabel
                required property string downloadState
                Layout.fillWidth: true
                spacing: 12

                RadioButton {
                    id: radio
                    objectName: "model_" + modelRow.rawValue
                    focusPolicy: Qt.StrongFocus
                    indicator: LineIcon {
                        x: radio.leftPadding
                        y: (radio.height - height) / 2
                        name: radio.checked ? "largecircle.fill.circle" : "circle"
                        size: 18
                        color: radio.checked ? Theme.cyan : (radio.visualFocus ? Theme.ink : Theme.muted)
                    }
                    contentItem: Label {
                        leftPadding: 28
                        text: radio.text
                        color: Theme.ink
                        verticalAlignment: Text.AlignVCenter
                    }
                    checked: tab.settings.whisperModel === modelRow.rawValue
                    text: modelRow.displayName + "  " + modelRow.sizeLabel
                    Layout.fillWidth: true
                    Accessible.name: modelRow.displayName + ", " + modelRow.sizeLabel
                    onClicked: {
                        tab.settings.whisperModel = modelRow.rawValue
                        checked = Qt.binding(() => tab.settings.whisperModel === modelRow.rawValue)
                    }
                }
                Label {
                    visible: modelRow.downloadState !== "missing"
                    text: modelRow.downloadState === "ready" ? "Ready" : "Downloading…"
                    color: modelRow.downloadState === "ready" ? Theme.confirm : Theme.body
                }
                // A model that will not load is fetched again; the file is replaced only
                // once the new one is verified.
                MurButton {
                    visible: modelRow.downloadState === "ready"
                    objectName: "redownload_" + modelRow.rawValue
                    text: "Re-download"
                    flat: true
                    Accessible.name: "Re-download " + modelRow.displayName
                    ToolTip.visible: hovered
                    ToolTip.text: "Download " + modelRow.displayName + " again, replacing the file"
                    onClicked: tab.models.replace(modelRow.rawValue)
                }
                MurButton {
                    visible: modelRow.downloadState === "missing"
                    text: "Download"
                    Accessible.name: "Download " + modelRow.displayName
                    ToolTip.visible: hovered
                    ToolTip.text: "Download " + modelRow.displayName
                    onClicked: tab.models.download(modelRow.rawValue)
                }
            }
        }
        SettingsRow {
            id: coreMLRow
            label: "Use the Core ML encoder"
            help: "Core ML exists only on Apple computers; on Linux the models always run on the processor."
            MurSwitch {
                objectName: "coreMLSwitch"
                enabled: false
                checked: tab.settings.coreMLEnabled
                Accessible.name: coreMLRow.label
                Accessible.description: coreMLRow.help
            }
        }
        SettingsNote {
            text: "Not available on Linux: this switch has no effect here."
        }
    }
}

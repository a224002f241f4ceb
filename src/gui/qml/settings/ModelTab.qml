import QtQuick
import QtQuick.Controls.Basic
import QtQuick.Layouts
import Murmel

// Model: how dictation trades speed for accuracy, and which model transcribes files.
ColumnLayout {
    id: tab

    spacing: 16

    SettingsSection {
        title: qsTr("Dictation")
        SettingsRow {
            id: speedRow
            label: qsTr("Dictation speed")
            help: qsTr("Fast uses a compact model; Accurate reuses your file transcription model, which handles accents and non-native pronunciation noticeably better.")
            Repeater {
                model: Settings.dictationSpeeds
                delegate: MurButton {
                    required property var modelData
                    objectName: "speed_" + modelData.value
                    primary: checked
                    text: modelData.label
                    checkable: true
                    checked: Settings.dictationSpeed === modelData.value
                    onClicked: {
                        Settings.dictationSpeed = modelData.value
                        checked = Qt.binding(() => Settings.dictationSpeed === modelData.value)
                    }
                    Accessible.name: qsTr("Dictation speed: %1").arg(modelData.label)
                    help: speedRow.help
                }
            }
        }
        SettingsNote {
            text: qsTr("Dictation favors speed. Fast picks the quickest model that stays accurate for your language; the Claude cleanup pass, when on, tidies any rough edges. If English is not your first language, Accurate understands accented speech noticeably better and still lands under a second.")
        }
        SettingsNote {
            visible: Settings.dictationSpeed === "accurate"
            text: qsTr("Uses your file transcription model below.")
        }
        SettingsRow {
            label: Settings.dictationModelName
            ProgressBar {
                visible: Settings.dictationModelState === ModelStore.State.downloading
                from: 0
                to: 1
                value: Settings.downloadProgress
                Accessible.name: qsTr("Downloading %1").arg(Settings.dictationModelName)
            }
            Label {
                visible: Settings.dictationModelState === ModelStore.State.ready
                text: qsTr("Ready")
                color: Theme.confirm
            }
            MurButton {
                objectName: "downloadDictationModel"
                visible: Settings.dictationModelState === ModelStore.State.missing
                text: qsTr("Download %1 (%2)").arg(Settings.dictationModelName).arg(Settings.dictationModelSize)
                Accessible.name: text
                ToolTip.visible: hovered
                ToolTip.text: qsTr("Download the model dictation uses")
                onClicked: Settings.downloadDictationModel()
            }
        }
    }

    SettingsSection {
        title: qsTr("File transcription")
        SettingsNote {
            text: qsTr("File transcription favors accuracy. Runs on your computer, free and private. Bigger models are more accurate, smaller ones faster. Each downloads once.")
        }
        Repeater {
            model: ModelList
            delegate: RowLayout {
                id: modelRow
                required property string rawValue
                required property string displayName
                required property string sizeLabel
                required property int downloadState
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
                    checked: Settings.whisperModel === modelRow.rawValue
                    text: qsTr("%1  %2").arg(modelRow.displayName).arg(modelRow.sizeLabel)
                    Layout.fillWidth: true
                    Accessible.name: qsTr("%1, %2").arg(modelRow.displayName).arg(modelRow.sizeLabel)
                    onClicked: {
                        Settings.whisperModel = modelRow.rawValue
                        checked = Qt.binding(() => Settings.whisperModel === modelRow.rawValue)
                    }
                }
                Label {
                    visible: modelRow.downloadState !== ModelStore.State.missing
                    text: modelRow.downloadState === ModelStore.State.ready ? qsTr("Ready") : qsTr("Downloading…")
                    color: modelRow.downloadState === ModelStore.State.ready ? Theme.confirm : Theme.body
                }
                // A model that will not load is fetched again; the file is replaced only
                // once the new one is verified.
                MurButton {
                    visible: modelRow.downloadState === ModelStore.State.ready
                    objectName: "redownload_" + modelRow.rawValue
                    text: qsTr("Re-download")
                    flat: true
                    Accessible.name: qsTr("Re-download %1").arg(modelRow.displayName)
                    ToolTip.visible: hovered
                    ToolTip.text: qsTr("Download %1 again, replacing the file").arg(modelRow.displayName)
                    onClicked: ModelList.replace(modelRow.rawValue)
                }
                MurButton {
                    visible: modelRow.downloadState === ModelStore.State.missing
                    text: qsTr("Download")
                    Accessible.name: qsTr("Download %1").arg(modelRow.displayName)
                    ToolTip.visible: hovered
                    ToolTip.text: qsTr("Download %1").arg(modelRow.displayName)
                    onClicked: ModelList.download(modelRow.rawValue)
                }
            }
        }
        SettingsRow {
            id: fastRow
            label: qsTr("Faster short dictations")
            help: qsTr("Dictations under 30 seconds are heard in a shorter window: often three times faster, at some risk to accuracy.")
            MurSwitch {
                objectName: "fasterShortDictationsSwitch"
                checked: Settings.fasterShortDictations
                onToggled: {
                    Settings.fasterShortDictations = checked
                    checked = Qt.binding(() => Settings.fasterShortDictations)
                }
                Accessible.name: fastRow.label
                Accessible.description: fastRow.help
                ToolTip.visible: hovered
                ToolTip.text: fastRow.help
            }
        }
        SettingsRow {
            id: graphicsRow
            label: qsTr("Use the graphics card")
            help: !Settings.graphicsCardKnown ? qsTr("Looking for a graphics card…")
                : graphicsSwitch.enabled ? qsTr("Runs the speech model on %1. Off, the processor runs it.").arg(Settings.graphicsCard)
                : qsTr("No graphics card with a Vulkan driver was found, so the processor runs the speech model.")
            Component.onCompleted: Settings.findGraphicsCard()
            MurSwitch {
                id: graphicsSwitch
                objectName: "graphicsCardSwitch"
                enabled: Settings.graphicsCard.length > 0
                // Without a card the processor does the work, whatever the preference says.
                checked: enabled && Settings.coreMLEnabled
                onToggled: {
                    Settings.coreMLEnabled = checked
                    checked = Qt.binding(() => enabled && Settings.coreMLEnabled)
                }
                Accessible.name: graphicsRow.label
                Accessible.description: graphicsRow.help
                ToolTip.visible: hovered
                ToolTip.text: graphicsRow.help
            }
        }
    }
}

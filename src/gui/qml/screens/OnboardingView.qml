import QtQuick
import QtQuick.Controls.Basic
import QtQuick.Layouts
import Murmel

// The first run: welcome, the three things Murmel needs from the desktop, and a speech
// model. Steps and flags come from Onboarding, which polls the desktop while this shows;
// the model rows come from the catalog, the chosen file transcription model from Settings.
Item {
    id: flow

    readonly property bool onScreen: Theme.onScreen(flow)
    onOnScreenChanged: Onboarding.setOnScreen(onScreen)

    // One requirement with its state: "Granted" or a "Grant" button.
    component PermissionRow: Rectangle {
        id: row
        property string title
        property string reason
        property bool granted
        property string grantHelp
        signal grant()
        Layout.fillWidth: true
        implicitHeight: 64
        radius: 12
        color: Theme.panel
        border.color: Theme.line
        Accessible.role: Accessible.Grouping
        Accessible.name: granted ? qsTr("%1, granted").arg(title) : title
        RowLayout {
            anchors.fill: parent
            anchors.leftMargin: 16
            anchors.rightMargin: 12
            spacing: 12
            ColumnLayout {
                spacing: 2
                Layout.fillWidth: true
                Label { text: row.title; color: Theme.ink; font.pixelSize: 14; font.weight: Font.DemiBold }
                Label {
                    text: row.reason
                    color: Theme.body
                    font.pixelSize: 12
                    wrapMode: Text.Wrap
                    Layout.fillWidth: true
                }
            }
            RowLayout {
                visible: row.granted
                spacing: 6
                LineIcon { name: "checkmark.circle.fill"; size: 16; color: Theme.confirm }
                Label { text: qsTr("Granted"); color: Theme.confirm; font.pixelSize: 13 }
            }
            MurButton {
                visible: !row.granted
                text: qsTr("Grant")
                help: row.grantHelp
                Accessible.name: qsTr("Grant %1").arg(row.title)
                onClicked: row.grant()
            }
        }
    }

    // Back on the left, the way on at the right.
    component NavigationRow: RowLayout {
        id: navRow
        property alias forwardButton: forwardButton
        property string forwardTitle
        property bool backVisible: true
        signal forward()
        Layout.fillWidth: true
        Layout.topMargin: 8
        MurButton {
            objectName: "onboardingBack"
            visible: navRow.backVisible
            text: qsTr("Back")
            onClicked: Onboarding.back()
        }
        Item { Layout.fillWidth: true }
        MurButton {
            id: forwardButton
            objectName: "onboardingForward"
            primary: true
            text: navRow.forwardTitle
            onClicked: navRow.forward()
        }
    }

    // Each step starts with its way on focused, so Return walks through the flow and Tab
    // reaches everything else.
    function focusStep() {
        const buttons = [welcomeButton, permissionsNavigation.forwardButton, modelNavigation.forwardButton]
        buttons[Onboarding.step].forceActiveFocus()
    }
    Component.onCompleted: focusStep()
    Connections {
        target: Onboarding
        function onStepChanged() { flow.focusStep() }
    }

    StackLayout {
        id: steps
        objectName: "onboardingSteps"
        anchors.centerIn: parent
        width: Math.min(parent.width - 64, 520)
        height: Math.min(parent.height - 48, 560)
        currentIndex: Onboarding.step

        // Step 0: welcome.
        ColumnLayout {
            objectName: "welcomeStep"
            spacing: 14
            Item { Layout.fillHeight: true }
            Item {
                Layout.alignment: Qt.AlignHCenter
                implicitWidth: 180
                implicitHeight: 150
                NebulaCore {
                    anchors.centerIn: parent
                    size: 170
                    opacity: 0.55
                }
                MUREye {
                    anchors.centerIn: parent
                    size: 96
                    glowing: true
                }
            }
            ChromeText {
                text: qsTr("MURMEL")
                pixelSize: 38
                letterSpacing: 9
                Layout.alignment: Qt.AlignHCenter
                Accessible.name: qsTr("Murmel")
            }
            Label {
                text: qsTr("Murmel is ready.")
                color: Theme.ink
                font.pixelSize: 16
                Layout.alignment: Qt.AlignHCenter
            }
            Label {
                text: qsTr("Talk anywhere on your computer and your words land as text where you are typing. Or drop in an audio or video file and get a transcript. Everything runs on your computer, free and private.")
                color: Theme.body
                font.pixelSize: 13
                wrapMode: Text.Wrap
                horizontalAlignment: Text.AlignHCenter
                lineHeight: 1.25
                Layout.fillWidth: true
            }
            MurButton {
                id: welcomeButton
                objectName: "welcomeContinue"
                primary: true
                text: qsTr("Get started")
                Layout.alignment: Qt.AlignHCenter
                Layout.topMargin: 8
                onClicked: Onboarding.next()
            }
            Item { Layout.fillHeight: true }
        }

        // Step 1: permissions.
        ColumnLayout {
            objectName: "permissionsStep"
            spacing: 12
            Item { Layout.fillHeight: true }
            Label {
                text: qsTr("Permissions")
                color: Theme.ink
                font.pixelSize: 24
                font.weight: Font.DemiBold
                Accessible.role: Accessible.Heading
            }
            Label {
                text: qsTr("Three quick grants and you are set.")
                color: Theme.body
                font.pixelSize: 13
            }
            PermissionRow {
                objectName: "microphoneRow"
                title: qsTr("Microphone")
                reason: qsTr("So Murmel can hear you dictate.")
                granted: Permissions.microphoneAvailable
                grantHelp: qsTr("Look for a microphone again")
                onGrant: Permissions.grant(Permissions.Kind.microphone)
            }
            PermissionRow {
                objectName: "pasteRow"
                title: qsTr("Paste at your cursor")
                reason: qsTr("So Murmel can paste text at your cursor.")
                granted: Permissions.pasteAvailable
                grantHelp: qsTr("Check again whether Murmel may type into other applications")
                onGrant: Permissions.grant(Permissions.Kind.paste)
            }
            PermissionRow {
                objectName: "hotkeyRow"
                title: qsTr("Global hotkey")
                reason: qsTr("So your global hotkey works anywhere.")
                granted: Permissions.hotkeyActive
                grantHelp: qsTr("Ask the desktop for the global hotkey again")
                onGrant: Permissions.grant(Permissions.Kind.hotkey)
            }
            HotkeyHelp {}
            NavigationRow {
                id: permissionsNavigation
                forwardTitle: qsTr("Continue")
                onForward: Onboarding.next()
            }
            Item { Layout.fillHeight: true }
        }

        // Step 2: the speech model.
        ColumnLayout {
            objectName: "modelStep"
            spacing: 12
            Item { Layout.fillHeight: true }
            Label {
                text: qsTr("Speech model")
                color: Theme.ink
                font.pixelSize: 24
                font.weight: Font.DemiBold
                Accessible.role: Accessible.Heading
            }
            Label {
                text: qsTr("Speech runs on your computer, free and private. Dictation uses a fast model automatically; the choice here is your file transcription model, where bigger is more accurate. Download one now, or skip and Murmel fetches what it needs on first use.")
                color: Theme.body
                font.pixelSize: 13
                wrapMode: Text.Wrap
                lineHeight: 1.2
                Layout.fillWidth: true
            }
            Repeater {
                model: ModelList
                delegate: Rectangle {
                    id: modelRow
                    required property string rawValue
                    required property string displayName
                    required property string sizeLabel
                    required property int downloadState
                    readonly property bool selected: Settings.whisperModel === rawValue
                    objectName: "modelRow_" + rawValue
                    Layout.fillWidth: true
                    implicitHeight: 52
                    radius: 10
                    color: selected ? Theme.line : Theme.panel
                    border.width: choose.visualFocus ? 2 : 1
                    border.color: choose.visualFocus ? Theme.cyan : (selected ? Theme.lineStrong : Theme.line)

                    // The whole row chooses the model; the button on the right downloads it.
                    AbstractButton {
                        id: choose
                        anchors.fill: parent
                        focusPolicy: Qt.StrongFocus
                        checkable: true
                        checked: modelRow.selected
                        Accessible.role: Accessible.RadioButton
                        Accessible.name: qsTr("%1, %2").arg(modelRow.displayName).arg(modelRow.sizeLabel)
                        Keys.onSpacePressed: clicked()
                        onClicked: Settings.whisperModel = modelRow.rawValue
                    }
                    RowLayout {
                        anchors.fill: parent
                        anchors.leftMargin: 14
                        anchors.rightMargin: 10
                        spacing: 10
                        LineIcon {
                            name: modelRow.selected ? "largecircle.fill.circle" : "circle"
                            size: 18
                            color: modelRow.selected ? Theme.cyan : Theme.muted
                        }
                        Label { text: modelRow.displayName; color: Theme.ink; font.pixelSize: 14 }
                        Label { text: modelRow.sizeLabel; color: Theme.muted; font.pixelSize: 12; Layout.fillWidth: true }
                        Label {
                            visible: modelRow.downloadState === ModelStore.State.ready
                            text: qsTr("Ready")
                            color: Theme.confirm
                            font.pixelSize: 13
                        }
                        Label {
                            visible: modelRow.downloadState === ModelStore.State.downloading
                            text: qsTr("%1%").arg(Math.floor(ModelStore.progress * 100.0))
                            color: Theme.cyan
                            font.pixelSize: 13
                        }
                        MurButton {
                            visible: modelRow.downloadState === ModelStore.State.missing
                            text: qsTr("Download")
                            enabled: ModelStore.downloading === ""
                            Accessible.name: qsTr("Download %1").arg(modelRow.displayName)
                            onClicked: ModelList.download(modelRow.rawValue)
                        }
                    }
                }
            }
            Label {
                visible: ModelStore.lastError !== ""
                text: ModelStore.lastError
                color: Theme.pink
                font.pixelSize: 12
                wrapMode: Text.Wrap
                Layout.fillWidth: true
            }
            NavigationRow {
                id: modelNavigation
                forwardTitle: Onboarding.finishTitle
                onForward: Onboarding.finish()
            }
            Item { Layout.fillHeight: true }
        }
    }
}

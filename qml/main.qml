import QtQuick 2.11
import QtQuick.Controls 2.4
import QtQuick.Dialogs 1.2
import com.norvane.qml.fileutil 1.0
import com.norvane.qml.downloadmediator 1.0
import com.norvane.qml.fileurl 1.0
import "global.js" as Global

ApplicationWindow {
    id: window
    visible: true
    width: 600
    height: 380
    minimumWidth: 600
    maximumWidth: 600
    minimumHeight: 380
    maximumHeight: 380
    title: qsTr("Norvane Lumora Kelo Connector")
    // The fixed positions need a font of Arial's widths; fontconfig maps the name to its metric
    // twin (Liberation Sans) where Arial itself is missing.
    font.family: "Arial"

    function readerArrived() {
        console.log("The reader is now connected.")
        lblStatus1.text = qsTr("The reader is connected.")
        lblSerialNumber.text = client.requestSerialNumber()
        lblReaderDateTime.text = client.requestDateTime()
        btnGetData.enabled = true
    }

    function readerRemoved() {
        console.log("The reader is now disconnected.")
        lblStatus1.text = qsTr("The reader is disconnected.")
        lblReaderSerialNumber.text = ""
        btnGetData.enabled = false
        endProgress()
    }

    function endProgress() {
        progressDialog.close()
        timer1.stop()
        progressBar.enabled = true
        progressBar.visible = true
    }

    function showError(message) {
        console.log(message)
        errorDialog.text = message
        openCentred(errorDialog)
    }

    // results: the document's bytes, held as they are and handed to FileUtil unread; sensorId:
    // the id its first record names, trimmed. Only a document that names its sensor may be
    // saved: the id is its folder and file name.
    function resultsReady(results, sensorId) {
        if (results.byteLength === 0) {
            endProgress()
            showError(qsTr("No data to report from the Sensor."))
            return
        }
        if (sensorId === "") {
            endProgress()
            showError(qsTr("The reader's data does not name the sensor. Nothing was saved."))
            return
        }
        lblReaderSerialNumber.text = sensorId
        Global.filename = lblReaderSerialNumber.text + "_" + Global.getISODateFileString()
                + "_data.json"
        var path = fileio.combineSensorDirAndFilename(sensorId, Global.filename)
        // FileUtil has already shown why when it gives no path or cannot save; offering the
        // file then would hand out a file that is not there.
        var saved = path !== "" && fileio.write(path, results)
        timer1.stop()
        progressDialog.close()
        if (!saved) {
            return
        }
        lblFileName.text = Global.filename
        openCentred(transferDialog, transferPanel)
        draggable.Drag.mimeData = { "text/uri-list": FileUrl.fromLocalPath(path) }
    }

    // A download that the reader's removal ended: the removal handler tells the user.
    function downloadAborted(reason) {
        console.log(reason)
        endProgress()
    }

    Page1Form {
        id: page1
        objectName: "page1"

        Label {
            id: lblStatus1
            objectName: "lblStatus1"
            x: 140
            y: 172
            text: qsTr("Please Connect the Reader.")
            font.pixelSize: 17
            topPadding: 0
        }

        Label {
            id: lblReaderSerialNumber
            objectName: "lblReaderSerialNumber"
            x: 220
            y: 198
            width: 300
            height: 21
            text: qsTr("")
            font.pixelSize: 17
            topPadding: 0
        }

        Label {
            id: lblSerialNumber
            objectName: "lblSerialNumber"
            x: 220
            y: 223
            width: 300
            height: 21
            text: qsTr("")
            font.pixelSize: 17
            topPadding: 0
        }

        Label {
            id: lblReaderDateTime
            objectName: "lblReaderDateTime"
            x: 385
            y: 307
            width: 140
            height: 21
            text: "<device not connected>"
            font.pixelSize: 17
            topPadding: 0
        }

        Button {
            id: btnGetData
            objectName: "btnGetData"
            anchors.left: parent.left
            anchors.leftMargin: 9
            y: 260
            text: qsTr("Get Data")
            font.pixelSize: 17
            enabled: false
            flat: false
            onClicked: {
                openCentred(progressDialog, progressPanel)
                timer1.start()
                downloadMediator.beginDownload()
            }
        }

        Component.onCompleted: {
            client.onConnected.connect(readerArrived)
            client.onDisconnected.connect(readerRemoved)
            downloadMediator.onResultsReady.connect(resultsReady)
            downloadMediator.onDownloadAborted.connect(downloadAborted)
        }
    }

    FileUtil {
        id: fileio
        onRaiseErrorMessage: showError(message)
    }

    Timer {
        id: timer1
        objectName: "timer1"
        interval: 1000
        repeat: true
        running: false
        onTriggered: {
            Global.i += 10
            if (Global.i === 100) {
                timer1.stop()
                return
            }
            progressBar.value = Global.i % 100
        }
    }

    // Opens dialog over the middle of the window, whatever the window manager does, at the
    // implicit size of panel when it has one (the dialog sizes its panel to its window). The
    // dialog's window exists only once open: sized or placed earlier, it stays unpainted.
    function openCentred(dialog, panel) {
        dialog.open()
        if (panel) {
            dialog.width = panel.implicitWidth
            dialog.height = panel.implicitHeight
        }
        dialog.x = window.x + Math.round((window.width - dialog.width) / 2)
        dialog.y = window.y + Math.round((window.height - dialog.height) / 2)
    }

    SystemPalette {
        id: systemPalette
    }

    MessageDialog {
        id: errorDialog
        objectName: "errorDialog"
        title: qsTr("Error")
        modality: Qt.WindowModal
        standardButtons: StandardButton.Ok
        width: 100
        height: 75
    }

    // The panels below replace the dialogs' own content, buttons included: each brings its OK.
    MessageDialog {
        id: progressDialog
        objectName: "progressDialog"
        title: qsTr("Progress")
        modality: Qt.WindowModal
        standardButtons: StandardButton.Ok

        // Larger than the bar it holds, so that nothing is cut off.
        Rectangle {
            id: progressPanel
            x: 0
            y: 0
            width: 300
            height: 130
            implicitWidth: 300
            implicitHeight: 130
            color: systemPalette.window

            Label {
                y: 14
                anchors.horizontalCenter: parent.horizontalCenter
                text: qsTr("Downloading the reader's data...")
                font.family: window.font.family
                font.pixelSize: 15
            }

            ProgressBar {
                id: progressBar
                objectName: "progressBar"
                y: 28
                width: 200
                height: 50
                from: 0
                to: 100
                anchors.horizontalCenter: parent.horizontalCenter
                visible: true
            }

            Button {
                anchors.right: parent.right
                anchors.bottom: parent.bottom
                anchors.margins: 10
                text: qsTr("OK")
                font.family: window.font.family
                onClicked: progressDialog.close()
            }
        }
    }

    MessageDialog {
        id: transferDialog
        objectName: "transferDialog"
        title: qsTr("Ready To Transfer")
        modality: Qt.WindowModal
        standardButtons: StandardButton.Ok

        // Large enough for the hint to be read and the file's name to be seen.
        Rectangle {
            id: transferPanel
            x: 0
            y: 0
            width: 300
            height: 276
            implicitWidth: 300
            implicitHeight: 276
            color: systemPalette.window

            AnimatedImage {
                id: image
                y: 10
                width: 261
                height: 175
                source: "dragout-animated.gif"
                cache: true
                fillMode: Image.PreserveAspectFit
                anchors.horizontalCenter: parent.horizontalCenter
            }

            Label {
                id: lblFileName
                objectName: "lblFileName"
                x: 10
                y: 192
                width: parent.width - 20
                horizontalAlignment: Text.AlignHCenter
                elide: Text.ElideMiddle
                font.family: window.font.family
                font.pixelSize: 13
            }

            MouseArea {
                id: mouseArea
                anchors.fill: parent
                hoverEnabled: true
                drag.target: draggable
                cursorShape: mouseArea.contains(mouseArea.mapToItem(mouseArea, mouseArea.mouseX,
                                                                    mouseArea.mouseY))
                             ? Qt.OpenHandCursor : Qt.ArrowCursor
            }

            Item {
                id: draggable
                objectName: "draggable"
                width: parent.width
                height: parent.height
                Drag.active: mouseArea.drag.active
                Drag.hotSpot.x: 0
                Drag.hotSpot.y: 0
                Drag.supportedActions: Qt.CopyAction
                Drag.dragType: Drag.Automatic
                Drag.mimeData: ({ "text/uri-list": "file:///" + Global.filename })
                Drag.onDragStarted: {}
                Drag.onDragFinished: transferDialog.close()
            }

            Button {
                anchors.right: parent.right
                anchors.bottom: parent.bottom
                anchors.margins: 10
                text: qsTr("OK")
                font.family: window.font.family
                onClicked: transferDialog.close()
            }
        }
    }
}

// The Brimtone dialog's controls in Shotcut's filter panel: threshold and
// region in percent (keyframable), dark and light colour, and the switch to
// the settings saved by the Brimtone dialog.
import QtQuick 2.12
import QtQuick.Controls 2.12
import QtQuick.Layouts 1.12
import Shotcut.Controls 1.0 as Shotcut

Item {
    id: root

    // The configuration's defaults: 17 %, blue on white, the whole frame.
    readonly property var percentParameters: ['threshold', 'left', 'top', 'right', 'bottom']
    readonly property var percentDefaults: [0.17, 0, 0, 1, 1]
    readonly property string darkDefault: '#0000ff'
    readonly property string lightDefault: '#ffffff'
    property var defaultParameters: percentParameters.concat(['colour1', 'colour2', 'saved'])
    property bool blockUpdate: true

    function position() {
        return Math.max(producer.position - (filter.in - producer.in), 0);
    }

    function sliderFor(index) {
        return percentRepeater.itemAt(index).slider;
    }

    function keyframesButtonFor(index) {
        return percentRepeater.itemAt(index).keyframesButton;
    }

    function setControls() {
        blockUpdate = true;
        for (var i = 0; i < percentParameters.length; ++i) {
            sliderFor(i).value = filter.getDouble(percentParameters[i], position()) * 100;
            keyframesButtonFor(i).checked = filter.keyframeCount(percentParameters[i]) > 0;
        }
        darkPicker.value = filter.get('colour1');
        lightPicker.value = filter.get('colour2');
        savedCheck.checked = filter.get('saved') === '1';
        blockUpdate = false;
    }

    // A value goes in at the playhead when the parameter has keyframes, else
    // for the whole clip.
    function setPercent(index, percent) {
        if (blockUpdate)
            return;
        var name = percentParameters[index];
        if (keyframesButtonFor(index).checked)
            filter.set(name, percent / 100, position());
        else
            filter.set(name, percent / 100);
    }

    function toggleKeyframes(index, checked) {
        var name = percentParameters[index];
        var value = sliderFor(index).value / 100;
        filter.resetProperty(name);
        if (checked)
            filter.set(name, value, position());
        else
            filter.set(name, value);
    }

    // Label, slider in percent, undo and keyframes: one grid row.
    component PercentRow: RowLayout {
        property int index
        property alias label: rowLabel.text
        property alias slider: rowSlider
        property alias keyframesButton: rowKeyframes

        Layout.columnSpan: 4

        Label {
            id: rowLabel

            Layout.preferredWidth: 90
            horizontalAlignment: Text.AlignRight
        }

        Shotcut.SliderSpinner {
            id: rowSlider

            minimumValue: 0
            maximumValue: 100
            decimals: 1
            suffix: ' %'
            onValueChanged: setPercent(index, value)
        }

        Shotcut.UndoButton {
            onClicked: rowSlider.value = percentDefaults[index] * 100
        }

        Shotcut.KeyframesButton {
            id: rowKeyframes

            onToggled: toggleKeyframes(index, checked)
        }
    }

    width: 350
    height: 280
    Component.onCompleted: {
        if (filter.isNew) {
            for (var i = 0; i < percentParameters.length; ++i)
                filter.set(percentParameters[i], percentDefaults[i]);
            filter.set('colour1', darkDefault);
            filter.set('colour2', lightDefault);
            filter.set('saved', 0);
            filter.savePreset(defaultParameters);
        }
        setControls();
    }

    GridLayout {
        columns: 4
        anchors.fill: parent
        anchors.margins: 8

        Label {
            text: qsTr('Preset')
            Layout.alignment: Qt.AlignRight
        }

        Shotcut.Preset {
            Layout.columnSpan: 3
            parameters: defaultParameters
            onBeforePresetLoaded: {
                for (var i = 0; i < percentParameters.length; ++i)
                    filter.resetProperty(percentParameters[i]);
            }
            onPresetSelected: setControls()
        }

        Repeater {
            id: percentRepeater

            model: [qsTr('Threshold'), qsTr('Region left'), qsTr('Region top'), qsTr('Region right'), qsTr('Region bottom')]

            delegate: PercentRow {
                index: model.index
                label: modelData
            }
        }

        Label {
            text: qsTr('Dark colour')
            Layout.alignment: Qt.AlignRight
        }

        Shotcut.ColorPicker {
            id: darkPicker

            Layout.columnSpan: 2
            onValueChanged: if (!blockUpdate) filter.set('colour1', value)
        }

        Shotcut.UndoButton {
            onClicked: darkPicker.value = darkDefault
        }

        Label {
            text: qsTr('Light colour')
            Layout.alignment: Qt.AlignRight
        }

        Shotcut.ColorPicker {
            id: lightPicker

            Layout.columnSpan: 2
            onValueChanged: if (!blockUpdate) filter.set('colour2', value)
        }

        Shotcut.UndoButton {
            onClicked: lightPicker.value = lightDefault
        }

        CheckBox {
            id: savedCheck

            Layout.columnSpan: 4
            text: qsTr('Use the settings saved by the Brimtone dialog')
            onClicked: filter.set('saved', checked ? 1 : 0)
        }

        Item {
            Layout.fillHeight: true
        }
    }

    Connections {
        function onChanged() {
            setControls();
        }

        target: filter
    }

    Connections {
        function onPositionChanged() {
            setControls();
        }

        target: producer
    }
}

// The Brimtone dialog's controls in Shotcut's filter panel: threshold and
// region in percent (keyframes and simple keyframes, as Shotcut's keyframable
// filters), dark and light colour, and the switch to the settings saved by the
// Brimtone dialog. Labels, help, defaults and ranges come from parameters.js.
import QtQuick 2.12
import QtQuick.Controls 2.12
import QtQuick.Layouts 1.12
import Shotcut.Controls 1.0 as Shotcut
import 'parameters.js' as Table

Shotcut.KeyframableFilter {
    id: root

    readonly property var percentNames: ['threshold', 'left', 'top', 'right', 'bottom']
    readonly property var colourNames: ['colour1', 'colour2']
    property var defaultParameters: percentNames.concat(colourNames).concat(['saved'])
    // The filter's 'disable' while an eyedropper picks, '' otherwise.
    property string disableBeforePick: ''

    function percentDefaults() {
        return percentNames.map(function (name) { return Table.byName(name).defaultValue; });
    }

    function sliderFor(index) {
        return percentRepeater.itemAt(index).slider;
    }

    function keyframesButtonFor(index) {
        return percentRepeater.itemAt(index).keyframesButton;
    }

    function setControls() {
        setKeyframableControls();
        blockUpdate = true;
        for (var i = 0; i < colourNames.length; ++i)
            colourRepeater.itemAt(i).picker.value = filter.get(colourNames[i]);
        savedCheck.checked = filter.get('saved') === '1';
        blockUpdate = false;
    }

    function setKeyframableControls() {
        var position = getPosition();
        blockUpdate = true;
        for (var i = 0; i < percentNames.length; ++i) {
            sliderFor(i).value = filter.getDouble(percentNames[i], position) * Table.percentPerFraction;
            keyframesButtonFor(i).checked = filter.animateIn <= 0 && filter.animateOut <= 0 && filter.keyframeCount(percentNames[i]) > 0;
        }
        blockUpdate = false;
        enableControls(isSimpleKeyframesActive());
    }

    function enableControls(enabled) {
        for (var i = 0; i < percentNames.length; ++i)
            sliderFor(i).enabled = enabled;
    }

    function updateSimpleKeyframes() {
        setKeyframableControls();
        for (var i = 0; i < percentNames.length; ++i)
            updateFilter(percentNames[i], sliderFor(i).value / Table.percentPerFraction, keyframesButtonFor(i), null);
    }

    // The picked colour comes from the source, not from the effect's two
    // colours: the filter is off while picking, then as it was.
    function startPick() {
        disableBeforePick = filter.get('disable') === '1' ? '1' : '0';
        filter.set('disable', 1);
    }

    function endPick() {
        if (disableBeforePick === '')
            return;
        filter.set('disable', Number(disableBeforePick));
        disableBeforePick = '';
    }

    keyframableParameters: percentNames
    startValues: percentDefaults()
    middleValues: percentDefaults()
    endValues: percentDefaults()
    width: 380
    height: 300
    Component.onCompleted: {
        if (filter.isNew) {
            for (var i = 0; i < defaultParameters.length; ++i)
                filter.set(defaultParameters[i], Table.byName(defaultParameters[i]).defaultValue);
            filter.savePreset(defaultParameters);
        }
        setControls();
    }

    // Label, slider in percent, undo and keyframes: one grid row.
    component PercentRow: RowLayout {
        property int index
        property var parameter: Table.byName(percentNames[index])
        property alias slider: rowSlider
        property alias keyframesButton: rowKeyframes

        Layout.columnSpan: 4

        Label {
            text: parameter.label
            Layout.preferredWidth: 90
            horizontalAlignment: Text.AlignRight

            Shotcut.HoverTip {
                text: parameter.help
            }
        }

        Shotcut.SliderSpinner {
            id: rowSlider

            minimumValue: parameter.minimum * Table.percentPerFraction
            maximumValue: parameter.maximum * Table.percentPerFraction
            decimals: parameter.decimals
            suffix: ' ' + parameter.unit
            onValueChanged: updateFilter(parameter.name, value / Table.percentPerFraction, rowKeyframes, getPosition())
        }

        Shotcut.UndoButton {
            onClicked: rowSlider.value = parameter.defaultValue * Table.percentPerFraction
        }

        Shotcut.KeyframesButton {
            id: rowKeyframes

            onToggled: {
                enableControls(true);
                toggleKeyframes(checked, parameter.name, rowSlider.value / Table.percentPerFraction);
            }
        }
    }

    // Label, colour with eyedropper, undo.
    component ColourRow: RowLayout {
        property int index
        property var parameter: Table.byName(colourNames[index])
        property alias picker: rowPicker

        Layout.columnSpan: 4

        Label {
            text: parameter.label
            Layout.preferredWidth: 90
            horizontalAlignment: Text.AlignRight

            Shotcut.HoverTip {
                text: parameter.help
            }
        }

        Shotcut.ColorPicker {
            id: rowPicker

            Layout.fillWidth: true
            onValueChanged: {
                if (!blockUpdate)
                    filter.set(parameter.name, value);
                endPick();
            }
            onPickStarted: startPick()
            onPickCancelled: endPick()
            Component.onCompleted: {
                // A picked colour equal to the current one changes no value:
                // the picker's own signal ends the pick then too.
                for (var i = 0; i < data.length; ++i)
                    if (data[i].colorPicked !== undefined)
                        data[i].colorPicked.connect(endPick);
            }
        }

        Shotcut.UndoButton {
            onClicked: rowPicker.value = parameter.defaultValue
        }
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
            onBeforePresetLoaded: resetSimpleKeyframes()
            onPresetSelected: {
                setControls();
                initializeSimpleKeyframes();
            }
        }

        Repeater {
            id: percentRepeater

            model: percentNames.length

            delegate: PercentRow {
                index: model.index
            }
        }

        Repeater {
            id: colourRepeater

            model: colourNames.length

            delegate: ColourRow {
                index: model.index
            }
        }

        CheckBox {
            id: savedCheck

            Layout.columnSpan: 4
            text: Table.byName('saved').label
            onClicked: filter.set('saved', checked ? 1 : 0)

            Shotcut.HoverTip {
                text: Table.byName('saved').help
            }
        }

        Item {
            Layout.fillHeight: true
        }
    }

    Connections {
        function onChanged() {
            setKeyframableControls();
            // The monitor's region writes the edges too: the simple keyframes
            // are read back once the change is complete.
            Qt.callLater(initializeSimpleKeyframes);
        }

        function onInChanged() {
            updateSimpleKeyframes();
        }

        function onOutChanged() {
            updateSimpleKeyframes();
        }

        function onAnimateInChanged() {
            updateSimpleKeyframes();
        }

        function onAnimateOutChanged() {
            updateSimpleKeyframes();
        }

        function onPropertyChanged() {
            setKeyframableControls();
        }

        target: filter
    }

    Connections {
        function onPositionChanged() {
            setKeyframableControls();
        }

        target: producer
    }
}

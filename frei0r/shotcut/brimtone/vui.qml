// The region on Shotcut's video monitor: a rectangle with handles that resize
// it and, with Shift held, a drag inside it that moves it. It writes the four
// edges as the panel's sliders do: for the whole clip, at the playhead when an
// edge has keyframes, or into the simple keyframes of animate in and out.
import QtQuick 2.12
import Shotcut.Controls 1.0 as Shotcut
import 'parameters.js' as Table

Shotcut.VuiBase {
    id: vui

    readonly property var edgeNames: ['left', 'top', 'right', 'bottom']
    property real zoom: (video.zoom > 0) ? video.zoom : 1
    // The region in fractions of the frame, as the filter holds it.
    property rect region: Qt.rect(0, 0, 1, 1)
    property bool blockUpdate: false

    function getPosition() {
        return Math.max(producer.position - (filter.in - producer.in), 0);
    }

    function simpleKeyframesActive(position) {
        return position <= 0 || (position >= (filter.animateIn - 1) && position <= (filter.duration - filter.animateOut)) || position >= (filter.duration - 1);
    }

    function edgesAt(position) {
        return edgeNames.map(function (name) { return filter.getDouble(name, position); });
    }

    function setRectangleControl() {
        if (blockUpdate)
            return;
        var position = getPosition();
        var edges = edgesAt(position);
        region = Qt.rect(edges[0], edges[1], edges[2] - edges[0], edges[3] - edges[1]);
        rectangle.setHandles(region);
        rectangle.enabled = simpleKeyframesActive(position);
    }

    // One edge as the panel's keyframable slider writes it. With animate in
    // or out, the start, middle and end values are read from the filter's
    // keyframes and the one at the playhead is replaced.
    function writeEdge(name, value, position) {
        if (filter.animateIn > 0 || filter.animateOut > 0) {
            var middleAt = filter.animateIn > 0 ? filter.animateIn - 1 : filter.duration - filter.animateOut;
            var start = filter.getDouble(name, 0);
            var middle = filter.getDouble(name, middleAt);
            var end = filter.getDouble(name, filter.duration - 1);
            if (position <= 0 && filter.animateIn > 0)
                start = value;
            else if (position >= filter.duration - 1 && filter.animateOut > 0)
                end = value;
            else
                middle = value;
            filter.resetProperty(name);
            if (filter.animateIn > 0) {
                filter.set(name, start, 0);
                filter.set(name, middle, filter.animateIn - 1);
            }
            if (filter.animateOut > 0) {
                filter.set(name, middle, filter.duration - filter.animateOut);
                filter.set(name, end, filter.duration - 1);
            }
        } else if (filter.keyframeCount(name) > 0) {
            filter.set(name, value, position);
        } else {
            filter.set(name, value);
        }
    }

    function clampEdge(name, value) {
        var parameter = Table.byName(name);
        return Math.min(Math.max(value, parameter.minimum), parameter.maximum);
    }

    // Only the edges the drag moved are written, so that resizing one side
    // adds no keyframes to the others.
    function updateFilter(position) {
        var r = rectangle.rectangle;
        var moved = [r.x / rectangle.widthScale, r.y / rectangle.heightScale, (r.x + r.width) / rectangle.widthScale, (r.y + r.height) / rectangle.heightScale];
        var before = edgesAt(position);
        blockUpdate = true;
        for (var i = 0; i < edgeNames.length; ++i) {
            var value = clampEdge(edgeNames[i], moved[i]);
            if (Math.abs(value - before[i]) > 1e-9)
                writeEdge(edgeNames[i], value, position);
        }
        blockUpdate = false;
    }

    Component.onCompleted: {
        application.showStatusMessage(qsTr('Drag the handles to resize the region; hold Shift and drag inside it to move it'));
        setRectangleControl();
    }

    Flickable {
        anchors.fill: parent
        interactive: false
        clip: true
        contentWidth: video.rect.width * zoom
        contentHeight: video.rect.height * zoom
        contentX: video.offset.x
        contentY: video.offset.y

        Item {
            id: videoItem

            x: video.rect.x
            y: video.rect.y
            width: video.rect.width
            height: video.rect.height
            scale: zoom
            enabled: filter.get('disable') !== '1'

            Shotcut.RectangleControl {
                id: rectangle

                // Rectangle units are fractions of the frame.
                widthScale: video.rect.width
                heightScale: video.rect.height
                handleSize: Math.max(Math.round(8 / zoom), 4)
                borderSize: Math.max(Math.round(1.33 / zoom), 1)
                onWidthScaleChanged: setHandles(region)
                onHeightScaleChanged: setHandles(region)
                onRectChanged: updateFilter(getPosition())
            }
        }
    }

    Connections {
        function onChanged() {
            setRectangleControl();
            videoItem.enabled = filter.get('disable') !== '1';
        }

        target: filter
    }

    Connections {
        function onPositionChanged() {
            setRectangleControl();
        }

        target: producer
    }
}

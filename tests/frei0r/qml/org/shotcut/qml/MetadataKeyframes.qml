import QtQuick 2.12

QtObject {
    property bool allowAnimateIn
    property bool allowAnimateOut
    property var simpleProperties: []
    property list<QtObject> parameters
    readonly property bool enabled: parameters.length > 0
}

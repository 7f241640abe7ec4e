import QtQuick 2.12

QtObject {
    property string name
    property string property
    property bool isCurve
    property real minimum
    property real maximum
}

// Stand-in for the menu type that Shotcut registers in C++.
import QtQuick 2.12

QtObject {
    property bool readOnly
    signal undoTriggered()
    signal redoTriggered()
    signal cutTriggered()
    signal copyTriggered()
    signal pasteTriggered()
    signal deleteTriggered()
    signal clearTriggered()
    signal selectAllTriggered()
    function popup() {}
}

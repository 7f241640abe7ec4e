// Stand-in for the Metadata type that Shotcut registers in C++: just the
// properties a filter's meta.qml sets.
import QtQuick 2.12

QtObject {
    enum Type { Filter, Producer, Link }
    property int type
    property string name
    property string keywords
    property string mlt_service
    property string objectName
    property string qml
    property string vui
    property string icon
    property bool allowMultiple: true
    property MetadataKeyframes keyframes: MetadataKeyframes {}
}

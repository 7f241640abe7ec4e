// Brimtone in Shotcut: the frei0r filter brimtone.so. Threshold and region
// edges are fractions 0..1, keyframable; the colours are Shotcut colours.
import QtQuick 2.0
import org.shotcut.qml 1.0

Metadata {
    type: Metadata.Filter
    name: qsTr('Brimtone')
    keywords: qsTr('two tone poster threshold colour color region', 'search keywords for the Brimtone video filter') + ' brimtone'
    mlt_service: 'frei0r.brimtone'
    qml: 'ui.qml'

    keyframes {
        parameters: [
            Parameter {
                name: qsTr('Threshold')
                property: 'threshold'
                isCurve: true
                minimum: 0
                maximum: 1
            },
            Parameter {
                name: qsTr('Region left')
                property: 'left'
                isCurve: true
                minimum: 0
                maximum: 1
            },
            Parameter {
                name: qsTr('Region top')
                property: 'top'
                isCurve: true
                minimum: 0
                maximum: 1
            },
            Parameter {
                name: qsTr('Region right')
                property: 'right'
                isCurve: true
                minimum: 0
                maximum: 1
            },
            Parameter {
                name: qsTr('Region bottom')
                property: 'bottom'
                isCurve: true
                minimum: 0
                maximum: 1
            }
        ]
    }
}

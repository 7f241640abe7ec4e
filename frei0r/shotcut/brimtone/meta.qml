// Brimtone in Shotcut: the frei0r filter brimtone.so. Threshold and region
// edges are fractions, keyframable (also as simple keyframes); the region is
// drawn and dragged on the video monitor (vui.qml). Names and ranges come from
// parameters.js, which the build writes from the effect's parameter table.
// The panel never sets the filter's 'threads' (as some of Shotcut's frei0r
// filters do): MLT would cut each frame into bands, and the region would
// apply to every band.
import QtQuick 2.0
import org.shotcut.qml 1.0
import 'parameters.js' as Table

Metadata {
    type: Metadata.Filter
    objectName: 'brimtone'
    name: qsTr('Brimtone')
    keywords: qsTr('two tone poster threshold colour color region', 'search keywords for the Brimtone video filter') + ' brimtone'
    mlt_service: 'frei0r.brimtone'
    qml: 'ui.qml'
    vui: 'vui.qml'
    icon: 'icon.png'

    keyframes {
        allowAnimateIn: true
        allowAnimateOut: true
        simpleProperties: ['threshold', 'left', 'top', 'right', 'bottom']
        parameters: [
            Parameter {
                name: Table.byName(property).label
                property: 'threshold'
                isCurve: true
                minimum: Table.byName(property).minimum
                maximum: Table.byName(property).maximum
            },
            Parameter {
                name: Table.byName(property).label
                property: 'left'
                isCurve: true
                minimum: Table.byName(property).minimum
                maximum: Table.byName(property).maximum
            },
            Parameter {
                name: Table.byName(property).label
                property: 'top'
                isCurve: true
                minimum: Table.byName(property).minimum
                maximum: Table.byName(property).maximum
            },
            Parameter {
                name: Table.byName(property).label
                property: 'right'
                isCurve: true
                minimum: Table.byName(property).minimum
                maximum: Table.byName(property).maximum
            },
            Parameter {
                name: Table.byName(property).label
                property: 'bottom'
                isCurve: true
                minimum: Table.byName(property).minimum
                maximum: Table.byName(property).maximum
            }
        ]
    }
}

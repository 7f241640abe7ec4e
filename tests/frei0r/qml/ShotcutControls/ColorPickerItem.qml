// Stand-in for the screen colour picker that Shotcut registers in C++.
import QtQuick 2.12

QtObject {
    signal colorPicked(color color)
    signal cancelled()
}

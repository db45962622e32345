#pragma once
// The program's icon, drawn at run time: a cesium atom's orbits around a clock face.

#include <QIcon>

namespace corvane3 {

QIcon AppIcon();

}  // namespace corvane3

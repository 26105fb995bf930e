#pragma once
// The tool's pictures, drawn in code with QtGui only, so that the installer
// can save the same icon.
#include <QImage>

namespace movra {

// Front panel of a panel meter, 289 x 102 px.
QImage meterPictureImage();
// The tool's icon, 64 x 64 px, transparent around the meter.
QImage meterIconImage();

} // namespace movra

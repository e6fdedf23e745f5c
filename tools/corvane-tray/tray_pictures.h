// The icon's three pictures, drawn rather than shipped: the normal one, the
// one shown for a moment on controller traffic, and the one for a daemon
// that is not running.
#pragma once

#include <QIcon>

#include "ui/tray_icon.h"

namespace corvane {

QIcon TrayPictureIcon(TrayPicture picture);

}  // namespace corvane

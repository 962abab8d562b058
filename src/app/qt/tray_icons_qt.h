#pragma once
// The tray's pictures: idle and recording drawn from the SVG resources, the
// paused one made from the recording picture at every size.
#include <QIcon>

#include "core/ui_service.h"

QIcon tray_icon_picture(TrayIconState state);

// The program's pictures compiled into the help library: the splash bitmap and the program icon.
// UI thread only (pixmaps and icons belong to it).
#pragma once

#include <QIcon>
#include <QString>

namespace quillet {

// Resource path of the splash bitmap (281 x 469 pixels).
inline const QString kSplashBitmap = QStringLiteral(":/quillet/splash.png");
inline const QString kProgramIcon = QStringLiteral(":/quillet/icon.png");

// Registers the compiled-in resources; the linker drops them from a static library unless
// something calls this. Cheap and safe to call again.
void registerHelpResources();

// The program icon, for window icons and the application.
QIcon programIcon();

}  // namespace quillet

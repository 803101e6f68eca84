// The numbers of the program's own resources (resources.rc), shared by the resource script and the
// code. Plain macros, as the resource compiler reads this file too.
#pragma once

#define kIconResource 128
#define kSplashBitmapResource 142

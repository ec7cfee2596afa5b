#pragma once
// Cutting the subject out of a picture: everything but the foreground becomes transparent, at the
// picture's own size. Slow on large pictures: callers run it off the UI thread.

#include "imaging/UserError.h"

#include <QImage>

namespace Cutout {

// "No clear subject found" or "Couldn't build the cut-out".
class Failure : public UserError {
public:
    using UserError::UserError;
};

// The picture as ARGB32 with the same size, every foreground region kept and the rest transparent.
// Throws Failure when no subject stands out or the work cannot be done (out of memory included).
QImage removeBackground(const QImage& image);

// The foreground's coverage as an 8-bit mask of the picture's size (255 = subject). `refine` false gives
// the coarse segmentation only scaled up, without following the picture's edges. Throws like above.
QImage foregroundMask(const QImage& image, bool refine = true);

} // namespace Cutout

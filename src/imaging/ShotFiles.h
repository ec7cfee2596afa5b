#pragma once
// Writes pictures as PNG files: in place (an annotated picture rewritten) or beside a source under a suffix
// word, so that the source stays as it was. Failures throw ConvertError.

#include "imaging/UserError.h"

#include <QImage>
#include <QString>
#include <QUrl>

namespace ShotFiles {

// The screenshot folder ~/Pictures/Pictolarium, created (or moved from a legacy name) on every read.
QString shotsFolder();

// "picto.shotsChanged": the notification posted whenever a picture file was written or changed.
QString changed();

// Writes the picture as one PNG at the URL, replacing what is there through a temporary file and a rename,
// so a failed write leaves the old file whole. Throws "Can't write PNG" when no file can be made in the
// folder and "Couldn't write " + file name when writing fails. Returns the URL.
QUrl write(const QImage& image, const QUrl& to);

// Writes the picture as "<base> <suffix>.png" beside the file (base: its name without the last extension),
// or "<base> <suffix> 2.png", "… 3.png" while the name is taken; the name is claimed exclusively.
QUrl savePNG(const QImage& image, const QUrl& beside, const QString& suffix);

} // namespace ShotFiles

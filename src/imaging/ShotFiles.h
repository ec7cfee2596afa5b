#pragma once
// Writes pictures as PNG files: in place (an annotated picture rewritten) or beside a source under a suffix
// word, so that the source stays as it was. Failures throw ConvertError.

#include "imaging/UserError.h"

#include <QImage>
#include <QString>
#include <QUrl>

#include <functional>

namespace ShotFiles {

// The screenshot folder ~/Pictures/Pictolarium, created (or moved from a legacy name) on every read.
QString shotsFolder();

// "picto.shotsChanged": the notification posted whenever a picture file was written or changed.
QString changed();

// Called with the whole file, open and not yet named, before it takes its name: what refers to the picture is
// written first. May throw; the file is then never named.
using BeforeNaming = std::function<void(int fd)>;

// Writes the picture as one PNG at the URL, in place of what is there only once it is whole (NewFiles::Pending),
// so a failed or cut-off write leaves the old file whole. Throws "Can't write PNG" when no file can be made in
// the folder, "Couldn't write " + file name when writing fails, and "The program is ending" once it is. Returns
// the URL.
QUrl write(const QImage& image, const QUrl& to, const BeforeNaming& beforeNaming = {});

// Writes the picture as "<base> <suffix>.png" beside the file (base: its name without the last extension),
// or "<base> <suffix> 2.png", "… 3.png" while the name is taken; the file takes the name only when whole, and
// never one in use.
QUrl savePNG(const QImage& image, const QUrl& beside, const QString& suffix, const BeforeNaming& beforeNaming = {});

} // namespace ShotFiles

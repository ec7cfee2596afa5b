#pragma once
// File names as the system hands them over: bytes, which need not be UTF-8. The toolkit names every file by
// UTF-8 text, so a name of other bytes (a Latin-1 "caf\xE9.png" from an old disk) comes out as another file that
// does not exist. Such a file is reached through a link of a readable name instead.

#include <QByteArray>
#include <QString>

namespace FileNames {

// A path the toolkit can open for the file at these bytes, made absolute against the working folder: the path
// itself when its bytes are UTF-8; otherwise a link to the file, named readable(file name), in a folder of its
// own under the runtime folder. Links older than a day are cleared on the way. Empty when no link can be made.
QString openable(const QByteArray& path);

// The name shown for bytes that are not all UTF-8: valid sequences as they are, every other byte as the Latin-1
// character of that value, which is how the older systems that write such names mostly meant them.
QString readable(const QByteArray& name);

} // namespace FileNames

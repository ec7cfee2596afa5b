#pragma once
// Reads the "text/uri-list" that drags and the clipboard carry on the Linux desktop.

#include <QByteArray>
#include <QList>
#include <QUrl>

namespace UriList {

// The absolute local files the list names, in order. Comments, blank lines, other schemes, other
// hosts, relative paths and entries with broken escapes are left out; at most `limit` files.
QList<QUrl> localFiles(const QByteArray& data, qsizetype limit = 100000);

} // namespace UriList

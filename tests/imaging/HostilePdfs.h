#pragma once
// PDFs made byte by byte for tests, among them those that cost a reader dearly: one page with millions of
// drawing operations, and one whose content stream inflates to a gigabyte.

#include <QByteArray>
#include <QList>

namespace HostilePdfs {

// A document of the objects, numbered from 1 in order (object 1 is the catalogue), with its cross-reference
// table; `trailer` adds entries to the trailer.
QByteArray objects(const QList<QByteArray>& objects, const QByteArray& trailer = {});
// A stream object holding `data` as it stands, with further dictionary entries.
QByteArray stream(const QByteArray& data, const QByteArray& entries = {});

// One page whose content draws `lines` separate strokes (three operators each).
QByteArray busyPage(int lines);
// One page whose deflated content stream inflates to `bytes` blanks.
QByteArray inflating(qint64 bytes);

} // namespace HostilePdfs

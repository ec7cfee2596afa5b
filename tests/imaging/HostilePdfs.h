#pragma once
// PDFs that cost a reader dearly: one page with millions of drawing operations, and one whose content
// stream inflates to a gigabyte.

#include <QByteArray>

namespace HostilePdfs {

// One page whose content draws `lines` separate strokes (three operators each).
QByteArray busyPage(int lines);
// One page whose deflated content stream inflates to `bytes` blanks.
QByteArray inflating(qint64 bytes);

} // namespace HostilePdfs

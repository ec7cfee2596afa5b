#pragma once
// File moves that never replace what is already there: the last line of defence against losing a picture.

#include <QString>

namespace FileOps {

// Renames from → to on one filesystem, failing with EEXIST when `to` exists instead of replacing it.
// Uses renameat2(RENAME_NOREPLACE); where the filesystem lacks it, a hard link and an unlink. Never copies:
// across devices it fails with EXDEV. Returns 0 or the errno value; on failure `from` is where it was.
int renameNoReplace(const QString& from, const QString& to);

// The system's text for an errno value, safe to call from any thread.
QString errorText(int errnum);

// Where a path's links end, as the system follows them: the path itself when it is no link, else the last link's
// target (which need not exist). ELOOP in `error` when the links go round, or through more than the system follows;
// EILSEQ when the end's name is not text (and so can't be named again).
QString throughLinks(const QString& path, int& error);

} // namespace FileOps

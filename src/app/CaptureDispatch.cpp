#include "app/AppDelegate.h"

void AppDelegate::openFiles(const QStringList& paths) { Q_UNUSED(paths); }

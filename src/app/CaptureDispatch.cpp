#include "app/AppDelegate.h"

#include <cstdio>

namespace {

void standIn(const char* name) {
    if (qEnvironmentVariableIsSet("PICTOLARIUM_TRACE"))
        std::fprintf(stderr, "%s\n", name);
}

} // namespace

void AppDelegate::openFiles(const QStringList& paths) { Q_UNUSED(paths); }

void AppDelegate::capture() {
    standIn("capture()");
}

void AppDelegate::captureRegion() {
    standIn("captureRegion()");
}

void AppDelegate::showLatest() {
    standIn("showLatest()");
}

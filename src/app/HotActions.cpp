#include "app/AppDelegate.h"

void AppDelegate::registerHotKeys() {}

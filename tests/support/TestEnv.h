#pragma once
// The temporary home every test process runs in.

#include <QString>

namespace TestEnv {

// Points HOME and the XDG folders at a fresh temporary directory. Call before QApplication.
void isolate();
QString home();

} // namespace TestEnv

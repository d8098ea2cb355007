#pragma once

#include <QApplication>

namespace zarn::test {

// The one application object of a widget test binary. Never destroyed: at exit Qt's own
// globals are gone before its destructor would run.
inline void ensureQApplication() {
    static int argc = 1;
    static char name[] = "ui_tests";
    static char* argv[] = {name, nullptr};
    if (!qApp) new QApplication(argc, argv);
}

}  // namespace zarn::test

#pragma once

#include <QtGlobal>

// Parts that bring large libraries with them (the desktop's calendar store, the alert sound,
// the update signature check) are built as modules of their own and loaded when first needed,
// so an app that never needs them never maps them. A module is looked for beside the installed
// binary and, for a binary run from the build tree, in the tree's own folder.
namespace Module {
// The function `symbol` of the module file `fileName`, which is loaded once and stays loaded;
// null, with a warning, when the module cannot be found or loaded.
QFunctionPointer resolve(const char *fileName, const char *symbol);
} // namespace Module

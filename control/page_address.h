// The address of the page that holds the control, as the browser shows it: the text of the
// first "EDIT" window among the descendants of the application's main window (the browser's
// frame), in creation order. Class names are read into 100 characters and compared with
// "EDIT" without regard to case; the text is read whole, however long it is.
#pragma once

#include <string>

#include "os/ui/ui_types.h"

namespace pelisto {

// Empty when `main_window` is null or gone, or holds no "EDIT" window.
std::string ReadPageAddress(os::HWND main_window);

}  // namespace pelisto

#pragma once
// Starting a companion program from the program's own folder, and the close
// request that ends every run.
#include <string>
#include <string_view>

#include "intake/services.h"

namespace zyp::intake {

// The full path of the program's file cut after its last "\" or ":", so that
// a file name can be appended directly.
std::u16string ProgramFolder(std::u16string_view modulePath);

// Starts the program with the application window as owner, the verb "open",
// the program folder as working directory and the normal show state (outside
// the caller's job object when it allows that). The result tells whether the
// start succeeded.
bool StartCompanion(Services& services, std::u16string_view file, const std::u16string& parameters);

// Posts WM_CLOSE to the program's own main window.
void PostCloseRequest(Services& services);

}  // namespace zyp::intake

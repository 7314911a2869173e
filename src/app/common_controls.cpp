#include "app/common_controls.h"

#include <commctrl.h>

#include "base/owned.h"

bool InitProgressBarClass(HMODULE comctl32) {
    if (!comctl32) return false;
    using InitCommonControlsExFn = BOOL(WINAPI*)(const INITCOMMONCONTROLSEX*);
    using InitCommonControlsFn = void(WINAPI*)();
    INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_PROGRESS_CLASS};
    auto initEx = LookupProc<InitCommonControlsExFn>(comctl32, "InitCommonControlsEx");
    if (initEx && initEx(&controls)) return true;
    auto init = LookupProc<InitCommonControlsFn>(comctl32, "InitCommonControls");
    if (!init) return false;
    init();
    return true;
}

// The installer's one module. Every subsystem source is compiled into a single translation
// unit, so the state they share stays private (an unnamed namespace) while the test programs
// compile exactly the same text and reach it directly.
#pragma once

#include <windows.h>
#include <winternl.h>
#include <commctrl.h>
#include <commdlg.h>
#include <oleacc.h>
#include <shellapi.h>
#include <shlobj.h>
#include <shobjidl.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "install_script.h"
#include "uninstall_script.h"
#include "version.h"

#include "state.cpp"
#include "progress.cpp"
#include "look.cpp"
#include "choice.cpp"
#include "paint.cpp"
#include "comfort.cpp"
#include "window.cpp"
#include "access.cpp"
#include "run.cpp"
#include "report.cpp"
#include "app.cpp"

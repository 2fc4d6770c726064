// SPDX-License-Identifier: MIT
// The Windows program: the core server on Winsock and window messages, with the settings window.
#include "app/win32/WinServerApp.h"
#include "shell/win32/MainWindow.h"

#include <commctrl.h>
#include <windows.h>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int)
{
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_STANDARD_CLASSES};
    InitCommonControlsEx(&controls);
    zelvor::WinServerApp app(zelvor::chooseSettingsFolder(zelvor::programFolder()));
    zelvor::WindowHooks hooks;
    hooks.restart = [&app] { app.server().Cmd_Start_Click(); };
    hooks.unload = [&app] { app.Form_Unload(); };
    zelvor::MainWindow window(app.settings(), std::move(hooks));
    app.onStatus = [&window](const std::string& word) { window.setStatus(word); };
    app.Form_Load();
    window.loadControls();
    if (app.folder().fallback)
        window.setStatus("settings in " + app.folder().path);
    window.start();
    return window.run();
}

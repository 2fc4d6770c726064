// SPDX-License-Identifier: MIT
// The Windows program: the core server on Winsock and window messages, with the settings window.
#include "app/WinServerApp.h"
#include "shell/win32/MainWindow.h"

#include <windows.h>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int)
{
    zelvor::WinServerApp app(zelvor::chooseSettingsFolder(zelvor::programFolder()));
    zelvor::WindowHooks hooks;
    hooks.restart = [&app] { app.server().Cmd_Start_Click(); };
    hooks.unload = [&app] { app.Form_Unload(); };
    zelvor::MainWindow window(std::move(hooks));
    app.onStatus = [&window](const std::string& word) { window.setStatus(word); };
    app.Form_Load();
    if (app.folder().fallback)
        window.setStatus("settings in " + app.folder().path);
    window.start();
    return window.run();
}

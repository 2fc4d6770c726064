// SPDX-License-Identifier: MIT
#include "app/win32/WinServerApp.h"

#include <shlobj.h>
#include <windows.h>

namespace zelvor {
namespace {

/** Errors go to the debugger's output: a GUI program has no console to print to. */
void printLine(const std::string& line)
{
    OutputDebugStringA((line + "\n").c_str());
}

void report(const std::string& line)
{
    printLine("zelvor: " + line);
}

bool folderWritable(const std::string& folder)
{
    const std::string probe = folder + "\\zelvor-write-test.tmp";
    HANDLE file = CreateFileA(probe.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    CloseHandle(file);
    return true;
}

} // namespace

std::string programFolder()
{
    char path[MAX_PATH * 4] = {};
    const DWORD length = GetModuleFileNameA(nullptr, path, sizeof path);
    std::string folder(path, length);
    const auto slash = folder.find_last_of("\\/");
    return slash == std::string::npos ? std::string(".") : folder.substr(0, slash);
}

SettingsFolder chooseSettingsFolder(const std::string& programFolder)
{
    if (folderWritable(programFolder))
        return {programFolder, false};
    char appData[MAX_PATH] = {};
    if (SHGetFolderPathA(nullptr, CSIDL_APPDATA | CSIDL_FLAG_CREATE, nullptr, 0, appData) != S_OK)
        return {programFolder, false};
    const std::string folder = std::string(appData) + "\\Zelvor";
    CreateDirectoryA(folder.c_str(), nullptr);
    return {folder, true};
}

std::string localDateTime()
{
    char date[128] = {};
    char time[128] = {};
    GetDateFormatA(LOCALE_USER_DEFAULT, DATE_SHORTDATE, nullptr, nullptr, date, sizeof date);
    GetTimeFormatA(LOCALE_USER_DEFAULT, 0, nullptr, nullptr, time, sizeof time);
    return std::string(date) + " " + time;
}

WinServerApp::WinServerApp(SettingsFolder folder)
    : m_folder(std::move(folder)),
      m_parts({m_folder.path, printLine,
               [this](const std::string& word) {
                   if (onStatus)
                       onStatus(word);
               }},
              knownMusicFolder(), localDateTime, m_listener, m_player, m_scheduler)
{
    m_listener.setServer(&m_parts.server);
    m_parts.log.onStatus = [this](const std::string& word) {
        if (onStatus)
            onStatus(word);
    };
    m_parts.server.onError = report;
}

void WinServerApp::Form_Load()
{
    m_parts.lifecycle.start();
}

void WinServerApp::Form_Unload()
{
    m_parts.lifecycle.shutdown();
}

} // namespace zelvor

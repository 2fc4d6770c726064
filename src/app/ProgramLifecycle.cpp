// SPDX-License-Identifier: MIT
#include "app/ProgramLifecycle.h"

#include "server/TelnetServer.h"
#include "server/Winsock.h"
#include "settings/ServerSettings.h"
#include "settings/SettingsFile.h"

#include <utility>
#include <vector>

namespace zelvor {

ProgramLifecycle::ProgramLifecycle(ProgramSurroundings surroundings, ServerSettings& settings,
                                   TelnetServer& server, Winsock& socket)
    : m_surroundings(std::move(surroundings)),
      m_settingsFile(settingsFilePath(m_surroundings.settingsFolder)), m_settings(settings),
      m_server(server), m_socket(socket)
{}

void ProgramLifecycle::start(const CommandLineOptions& commandLine)
{
    std::string error;
    // Without the folder the default log could not be written before the first save.
    if (!prepareSettingsFolder(m_surroundings.settingsFolder, &error))
        m_surroundings.printLine("zelvor: " + error);
    error.clear();
    if (!loadSettings(m_settingsFile, m_settings, &error) && !error.empty())
        m_surroundings.printLine("zelvor: " + error);
    warnAboutUntypeableCredentials();
    applyCommandLine(commandLine, m_settings);
    // The defaults let anyone on the network in; say so before the door opens.
    if (!m_settings.LoginRequired || m_settings.Password.empty())
        m_server.LogActivity(kOpenToAnyone);
    m_server.Server_Load();
}

void ProgramLifecycle::warnAboutUntypeableCredentials()
{
    // Such a value is kept as it is, but no client can type it: say so once.
    for (const auto& [name, value] :
         {std::pair<const char*, const std::string&>{"user name", m_settings.UserName},
          {"password", m_settings.Password}}) {
        if (value.size() > kMaxLineLength)
            m_surroundings.printLine("zelvor: the " + std::string(name) + " in " + m_settingsFile +
                                     " is longer than " + std::to_string(kMaxLineLength) +
                                     " bytes, more than a client can type: nobody can log in "
                                     "with it");
    }
}

bool ProgramLifecycle::shutdown()
{
    if (m_shutDown)
        return false;
    m_shutDown = true;
    std::string error;
    std::vector<std::string> keptKeys;
    if (!saveSettings(m_settingsFile, m_settings, &error, &keptKeys))
        m_surroundings.printLine("zelvor: cannot save the settings to " + m_settingsFile + ": " +
                                 error);
    for (const auto& key : keptKeys) {
        m_surroundings.printLine("zelvor: \"" + key + "\" not saved: its value holds a line " +
                                 "break; " + m_settingsFile + " keeps the value stored before");
        if (m_surroundings.showStatus)
            m_surroundings.showStatus(key + " not saved");
    }
    m_socket.close();
    return true;
}

} // namespace zelvor

// SPDX-License-Identifier: MIT
#include "commands/DirectoryCommands.h"

#include "commands/CommandSession.h"
#include "commands/MusicFolders.h"
#include "commands/PathMapping.h"
#include "player/Player.h"
#include "settings/ServerSettings.h"

#include <algorithm>
#include <string>

namespace zelvor {

namespace {

// Cut before the last "\" (the closing one), then after the "\" in front of it:
// \Rock\Live\ becomes \Rock\ and \Rock\ becomes \.
std::string parentOf(std::string_view dir)
{
    const auto closing = dir.rfind('\\');
    if (closing == std::string_view::npos)
        return "\\";
    const auto parent = dir.substr(0, closing);
    const auto keep = parent.rfind('\\');
    return keep == std::string_view::npos ? "\\" : std::string(parent.substr(0, keep + 1));
}

// A folder line of find ends in a separator ("Rock\Live\"), and so may a name typed by hand;
// the separators at the end name no further folder.
std::string_view withoutClosingSeparators(std::string_view name)
{
    const auto last = name.find_last_not_of("\\/");
    return name.substr(0, last == std::string_view::npos ? 0 : last + 1);
}

} // namespace

void printWorkingDirectory(CommandContext& context)
{
    context.connection.send("\r\n" + context.session.CurrentDir);
}

void changeDirectory(CommandContext& context, std::string_view argument)
{
    const auto typed = nameOf(argument);
    std::string& dir = context.session.CurrentDir;
    if (typed == "\\") {
        dir.assign(1, '\\');
        return;
    }
    // Appended as typed, a closing separator would leave an empty name in CurrentDir ("\Rock\\").
    const auto name = withoutClosingSeparators(typed);
    if (name.empty())
        return;
    if (name == "..") {
        if (dir != "\\")
            dir = parentOf(dir);
        return;
    }
    // Names such as "." or "Rock\.." lead back to a folder already in the path, yet each one is
    // appended: without a limit a client repeating them grows CurrentDir without bound.
    if (dir.size() + name.size() + 1 > kMaxCurrentDirLength)
        return;
    const std::string& root = context.settings.ServerRoot;
    const auto target = resolveMusicPath(root, root + "\\" + dir + std::string(name));
    if (target && context.folders.isFolder(*target)) {
        dir += name;
        dir += '\\';
    }
}

void listDirectory(CommandContext& context, std::string_view argument)
{
    const std::string& root = context.settings.ServerRoot;
    // Closing separators count once: "ls Rock\\" lists Rock under the pattern line of "ls Rock\".
    const auto filter = nameOf(argument);
    const auto kept = withoutClosingSeparators(filter);
    const std::string pattern =
        root + context.session.CurrentDir +
        std::string(filter.substr(0, std::min(filter.size(), kept.size() + 1)));
    context.connection.send("\r\n" + displayPath(pattern));

    // The last name of the pattern is matched against the folder before it; a pattern that
    // ends in a separator (or in "." or "..") lists the whole folder it names.
    std::string_view folderText = pattern;
    std::string_view wildcard = "*";
    const auto cut = folderText.find_last_of("\\/");
    if (cut != std::string_view::npos) {
        const auto last = folderText.substr(cut + 1);
        if (!last.empty() && last != "." && last != "..") {
            wildcard = last;
            folderText = folderText.substr(0, cut + 1);
        }
    }
    const auto folder = resolveMusicPath(root, folderText);
    if (!folder)
        return;
    for (const auto& name : context.folders.list(*folder, wildcard))
        context.connection.send("\r\n" + name);
}

namespace {

// True when the path names what lies below the root: the root, a folder, or an entry that its
// folder lists.
bool namesEntry(MusicFolders& folders, const MusicPath& path)
{
    if (path.names.empty() || folders.isFolder(path))
        return true;
    MusicPath folder = path;
    folder.names.pop_back();
    folder.trailingSeparator = false;
    return !folders.list(folder, path.names.back()).empty();
}

// A load that added nothing says why: no player, a player that takes no files (or no folders)
// over the bus, or the first refusal.
LineEnd loadEnd(const PlayerAnswer& answer)
{
    const auto why = answer.reason.empty() ? std::string() : ": " + answer.reason;
    switch (answer.outcome) {
    case Outcome::Done:
        break;
    case Outcome::NoPlayer:
        return playerMissing();
    case Outcome::NotOffered:
        return replied("\r\nLoad not available" + why);
    case Outcome::Failed:
        return replied("\r\nLoad failed" + why);
    }
    return {};
}

} // namespace

void loadPath(CommandContext& context, std::string_view argument, LineDone done)
{
    const std::string& root = context.settings.ServerRoot;
    const std::string_view dir = context.session.CurrentDir;
    // Without an argument the current folder goes without its closing separator.
    const std::string text =
        argument.empty() ? root + std::string(dir.substr(0, dir.empty() ? 0 : dir.size() - 1))
                         : root + std::string(dir) + std::string(nameOf(argument));
    // What ls leaves out is not loaded either, and a name not found stays silent, as in cd.
    const auto path = resolveMusicPath(root, text);
    if (!path || context.folders.isMarkedHidden(*path) || !namesEntry(context.folders, *path)) {
        done({});
        return;
    }
    context.player.add(
        context.folders.hostPath(*path),
        [done = std::move(done)](const PlayerAnswer& answer) { done(loadEnd(answer)); });
}

} // namespace zelvor

// SPDX-License-Identifier: MIT
#pragma once

#include "commands/PlayerReply.h"

namespace zelvor {

class Player;

/**
 * "status": asks the player for its status and ends the line with the framed report (each
 * line after CR LF): version, play state, shuffle and repeat. Without a player the report says
 * "Winamp is not running".
 */
void SendStatus(Player& player, LineDone done);

} // namespace zelvor

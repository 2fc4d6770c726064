// SPDX-License-Identifier: MIT
#pragma once

namespace zelvor {

class Connection;
class Player;

/**
 * "status": asks the player for its version, play state, shuffle and repeat, and sends the
 * framed report in one send (each line after CR LF). Without a player the report says
 * "Winamp is not running".
 */
void SendStatus(Player& player, Connection& connection);

} // namespace zelvor

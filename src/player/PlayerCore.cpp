// SPDX-License-Identifier: MIT
#include "player/Player.h"

// The tray menu's status line, from the session's flags at the moment of the click.
#pragma once

#include <cstddef>
#include <cstdint>

namespace marvik {

constexpr std::size_t MENU_STATUS_SIZE = 128;

// A rejection comes first: it outlasts the game's id and is never verified.
void formatMenuStatus(char (&line)[MENU_STATUS_SIZE], bool verified, std::uint32_t gamePID, bool rejected);

}  // namespace marvik

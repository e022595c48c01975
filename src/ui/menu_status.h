// The tray menu's status line, from the session's flags at the moment of the click.
#pragma once

#include <cstddef>
#include <cstdint>

namespace marvik {

constexpr std::size_t MENU_STATUS_SIZE = 128;

void formatMenuStatus(char (&line)[MENU_STATUS_SIZE], bool verified, std::uint32_t gamePID);

}  // namespace marvik

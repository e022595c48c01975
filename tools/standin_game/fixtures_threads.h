// Thread fixtures of the stand-in game: what a remote thread and a hardware
// breakpoint leave, harmlessly.
#pragma once

#include <string>

namespace marvik {

// "thread-private": a thread started in private read-execute memory, as
// shellcode started by CreateRemoteThread is; it only sleeps, calling Sleep
// through a pointer in a loop.
// "dr0": DR0 armed by DR7 on a thread of the game's own, at a data address
// as an execution breakpoint, which never fires.
// "suspend-all": every thread of the game suspended, the last by itself.
// False when the command is not one of these.
bool runThreadFixture(const std::string& command);

}  // namespace marvik

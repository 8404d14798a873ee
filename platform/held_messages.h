// Messages to standard error while a full screen is up. Written on the
// terminal they would land in the middle of the screen and stay there until
// it is drawn again; held meanwhile, they are written where they belong
// once the screen is given back, in the order they came. Children started
// meanwhile hold theirs the same way, since they inherit the descriptor.
#pragma once

namespace platform {

// From now on, what goes to standard error (descriptor 2) is kept. False,
// with nothing changed, when it cannot be (the messages then go on as
// before); true when already holding.
bool HoldStandardError();
// Puts standard error back and writes what was kept to it. Safe to call
// when nothing is held, more than once, and from a signal handler.
void ReleaseStandardError();

}  // namespace platform

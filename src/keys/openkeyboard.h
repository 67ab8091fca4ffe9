#pragma once

#include "keys/keyboard.h"

#include <memory>
#include <string>

namespace keys {

// The keyboard of the desktop the agent runs on, picked at run time among the back-ends built in.
// Never null: without a usable back-end it is the null keyboard, and `unavailable` says why.
std::unique_ptr<Keyboard> openKeyboard(std::string* unavailable);

} // namespace keys

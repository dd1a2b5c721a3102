#pragma once
// The one guard around every window handler: a UserError or any other
// std::exception ends the handler, its text goes to the central error box
// (full-stop rule applied) and the program keeps running. Debian's Qt is
// built without exception support, so nothing may escape into Qt frames.
#include "runner/prompts.h"

#include <functional>

namespace kestrune {

void runGuarded(Prompts& prompts, const std::function<void()>& handler);

} // namespace kestrune

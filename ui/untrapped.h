#pragma once

#include <functional>
#include <utility>

namespace tarvic {

class RuntimeError;

// What happens to a failure that no handler traps: one error box, then the process
// ends. The program installs the real reaction; tests install their own.
using UntrappedReaction = std::function<void(const RuntimeError &)>;
void setUntrappedReaction(UntrappedReaction reaction);
void reportUntrapped(const RuntimeError &error);

// Runs a window's event handler; a failure it does not trap goes to reportUntrapped.
void runHandler(const std::function<void()> &handler);

} // namespace tarvic

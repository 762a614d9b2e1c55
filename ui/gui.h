#pragma once

#include <functional>

namespace tarvic {

// The application object that boxes and windows need, made just before the first of
// them: a run that starts a program and shows nothing never connects to the display.
// main() says how it is made; where an application object exists already (tests),
// nothing is made.
void setGuiMaker(std::function<void()> make);
void needGui();

} // namespace tarvic

#pragma once

// Runs the prism-emulator program: parses its command line, starts the panels, optionally their windows,
// and serves until terminated.
namespace EmulatorRunner {
int run(int argc, char* argv[]);
}

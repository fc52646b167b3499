#pragma once
// Start-up: single instance, command line, then the windows or the agent.

namespace appSetup {
int Main(int argc, char** argv);
}

#pragma once
// The machine's power supply and network as the agents' scheduled runs see them: UPower's
// OnBattery and NetworkManager's Metered on the system bus, read once and then followed
// through their PropertiesChanged signals (no polling). A service that does not answer (or no
// system bus) means mains power and a network that is not metered. Nothing touches the bus
// while the preferences that ask about these are off.

#include <functional>
#include <poll.h>

namespace PowerWatch {

// Follows what the preferences ask for now (PostponeOnBattery, PostponeOffsiteMetered), and
// lets go of what they no longer ask for. Cheap when nothing changed: the tick calls it each
// time. Main thread only.
void Update();
// The machine runs on battery (false unless watched).
bool OnBattery();
// The network is metered: NetworkManager says yes or guesses yes (false unless watched).
bool Metered();
// Called on the main thread, from Qt's event loop, when mains power returns or the network
// is no longer metered: the tray agent ticks at once.
void SetOnRelief(std::function<void()> onRelief);
// A relief came since the last call (the headless agent's loop asks after each wait).
bool TakeRelief();
// The headless agent's wait: until one of the n descriptors has what it asks for (POLLIN or
// POLLPRI; revents filled as poll does), iMs milliseconds have passed or a relief came.
// Through Qt's event loop while anything is watched (the bus's signals arrive there), else a
// plain poll. Returns false when the wait itself failed.
bool Wait(pollfd* fds, int n, int iMs);
// Stops watching (the agent ends).
void Stop();

} // namespace PowerWatch

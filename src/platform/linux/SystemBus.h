// The login manager's inhibitor lock over the system bus, spoken by the program itself: the
// self-contained flasher carries no libsystemd.
#pragma once

#include <string>

namespace movrel::platform::systemmanager {

// org.freedesktop.login1.Manager.Inhibit(what, who, why, mode) on the system bus
// (DBUS_SYSTEM_BUS_ADDRESS's unix path where the environment is the caller's own, else
// /run/dbus/system_bus_socket): the descriptor that holds the lock until it is closed, or the
// negated error number: the socket's (no bus), EACCES (refused: polkit did not authorise it),
// EHOSTUNREACH or ENXIO (no login manager), EBADMSG (a reply this client cannot read).
int BusInhibit(const std::string& what, const std::string& who, const std::string& why,
               const std::string& mode);

}  // namespace movrel::platform::systemmanager

// The system manager's services on this machine: the login manager's inhibitor locks over the
// system bus, and the journal. Through libsystemd, or in an executable built self-contained
// (static), through the program's own client of both.
#pragma once

#include <string>
#include <vector>

namespace movrel::platform::systemmanager {

// As LinuxKernel::Inhibit, JournalPresent and JournalSend.
int Inhibit(const std::string& what, const std::string& who, const std::string& why,
            const std::string& mode);
bool JournalPresent();
int JournalSend(const std::vector<std::string>& fields);

}  // namespace movrel::platform::systemmanager

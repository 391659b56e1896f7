#pragma once

namespace shelvo::platform {

class Env;

// Whether standard output is connected to the journal, as systemd connects a service's output
// ($JOURNAL_STREAM names the device and inode of that stream).
bool standardOutputIsJournal(const Env& env);

}  // namespace shelvo::platform

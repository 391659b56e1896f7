#pragma once

namespace shelvo::platform {

// Whether standard output is connected to the journal, as systemd connects a service's output
// ($JOURNAL_STREAM names the device and inode of that stream).
bool standardOutputIsJournal();

}  // namespace shelvo::platform

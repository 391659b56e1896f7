#pragma once

namespace shelvo::platform {

// Opens /dev/null on each of standard input, output and error that the program was started
// without. Otherwise the first file the program opens takes that number: printed lines would go
// into a lock or a record, and a script would read that file as its input.
void openMissingStandardDescriptors();

}  // namespace shelvo::platform

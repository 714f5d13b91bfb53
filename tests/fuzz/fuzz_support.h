// Helpers of the fuzz entry points: a folder of the process for the files
// that the parsers read, and the settings that point them there.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace fuzzsupport {

// A fresh folder of this process (home of the settings below), made at the
// first call and removed when the process ends.
const std::string &dir();
// Writes the bytes to dir() + "/" + name, creating parent folders.
void writeBytes(const std::string &name, const uint8_t *data, size_t size);
// Points home-dir, userbase-dir and lock-dir into dir() and sets the other
// settings the readers use (language en, admin and mailer), as initConfig
// would; the log file name is a folder, so warnings go to standard error
// only.
void setUpNode();
// Splits data at the first occurrence of the separator line "\n%%\n": the
// parts before and after it (all of data and nothing when it is missing).
void split(const uint8_t *data, size_t size, std::string *first, std::string *second);

}  // namespace fuzzsupport

// A few lines of memcached client over winsock, for tests that check what the real
// server answers on 127.0.0.1:11211, and a look at host processes through Wine.
#pragma once

#include "driver/winsock.h"

#include <chrono>
#include <string>

namespace driver {

inline constexpr unsigned short kMemcachedPort = 11211;

// A connection to 127.0.0.1:11211, or none when nothing accepts within `timeout`.
UniqueSocket Connect(std::chrono::milliseconds timeout);
bool PortOpen();
// Sends one memcached command and answers everything up to its closing END line;
// empty when the server cannot be reached or does not answer in time.
std::string Ask(const std::string& command);
// The value of "STAT <name> <value>" in an answer to a stats command.
std::string Stat(const std::string& answer, const std::string& name);

std::wstring Widen(const std::string& text);
// A Linux process, seen through Wine's root drive: its command name, or empty when
// there is no such process.
std::string HostProcessName(const std::string& pid);
bool HostProcessGone(const std::string& pid);

}  // namespace driver

// The socket device: every Unix-domain SOCK_SEQPACKET socket in one directory is a reader (the
// simulator and test fixtures listen there). Internal to hid/.
#pragma once

#include <memory>
#include <string>

#include "hid/hid_backend.h"

// A backend over the sockets in dir; null only when out of memory.
std::unique_ptr<HidBackend> HidNewSocketBackend(const std::string& dir);

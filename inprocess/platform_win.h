// The engine's platform as a process of the user runs it (the worker, the native host): the
// user's readers, proxy and temporary folder, and H_Sign's one-use client key pair made before a
// call needs it.
#pragma once

#include "engine/platform.h"

namespace qardex::inprocess {

// Made on first use (the first key pair is made from then on). A call still running when its
// process stops waiting for it keeps using the platform, so both live until the process exits;
// the key pairs' thread ends then.
engine::Platform& PlatformWithKeysAhead();

}  // namespace qardex::inprocess

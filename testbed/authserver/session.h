// One connection of the test server: the dialogue with the control, shaped by the connection's
// mode, with every step written to the event log.
#pragma once

#include <chrono>
#include <string>

#include "testbed/authserver/event_log.h"
#include "testbed/authserver/modes.h"
#include "testbed/authserver/rsa_keys.h"
#include "testbed/authserver/tcp.h"
#include "testbed/authserver/wire_cipher.h"

namespace authserver {

// What stays the same for every connection of one server run.
struct ServerContext {
    const RsaKey& server_key;
    TdesKey hello_key;
    Bytes card_secret;
    std::chrono::seconds connection_limit{90};
    // Pause between the pieces of a reply in the split mode.
    std::chrono::milliseconds piece_pause{200};
    bool quick_ack = false;  // acknowledge every read at once
};

// Serves the connection to its end (or to the connection limit); never throws.
void serve_connection(const testnet::UniqueFd& socket, int number, const Mode& mode,
                      const ServerContext& context, testnet::EventLog& log);

}  // namespace authserver

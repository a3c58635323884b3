// A library handle for one test, disconnected when the test ends however it
// ends, so no descriptor outlives the test that opened it.
#pragma once

#include "smsgate/Tellarin.h"

namespace quorvex::testing {

struct ClientConnection {
    CmppHandle handle{};

    ClientConnection() = default;
    ClientConnection(const ClientConnection&) = delete;
    ClientConnection& operator=(const ClientConnection&) = delete;
    ~ClientConnection() {
        if (handle.socket != 0) cmpp_disconnect_from_ismg(&handle);
    }

    int Connect(unsigned short port) { return cmpp_connect_to_ismg("127.0.0.1", port, &handle); }
};

}  // namespace quorvex::testing

// A server whose I/O loop is never run: it marks the loop as exited before
// the server's own destructor, which would otherwise wait for it for ever.
#pragma once

#include "service/zq_server.h"

struct IdleServer : zq::ZqServer {
    ~IdleServer() override { mRunExited.store(true); }
};

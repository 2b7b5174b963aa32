#pragma once
// Reads back a request the client wrote as a strict server would, and stops
// the run when it is not one: a request line "METHOD target HTTP/1.x", header
// lines "name: value", every line ended by CR LF, no bare CR or LF and no NUL,
// no folded lines, one Host naming where the request is meant to go.

#include "tests/support/MemoryIOHandler.h"

#include <string>

namespace vykfuzz {

struct RequestExpectation {
    bool viaProxy = false; // absolute-form target; Host taken from it, not from the connection
    std::string target;    // the exact request target, when the caller knows it
};

void CheckRequest(const vyktest::MemoryIOHandler::Request& request,
                  const RequestExpectation& expected);

} // namespace vykfuzz

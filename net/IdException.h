#pragma once
// Base of every network error, and the class-level raise helpers: the caller
// names the class, the message arrives already formatted.

#include "host/Exception.h"

#include <string>

VYK_DECLARE_EXCEPTION(EIdException, Exception);

// Raised as EIdException itself by a read or a look at a handler that has no
// connection; EIdNotConnected, raised by the connection, says "Not connected.".
constexpr const char* kNotConnectedText = "Not Connected";

template <typename E> [[noreturn]] void RaiseNow(const std::string& message = {}) {
    throw E(message);
}

template <typename E> void RaiseWhen(bool condition, const std::string& message = {}) {
    if (condition) throw E(message);
}

template <typename E> void RaiseUnless(bool condition, const std::string& message = {}) {
    if (!condition) throw E(message);
}

template <typename E, typename P>
void RaiseWhenPresent(const P& reference, const std::string& message = {}) {
    if (reference) throw E(message);
}

template <typename E, typename P>
void RaiseWhenAbsent(const P& reference, const std::string& message = {}) {
    if (!reference) throw E(message);
}

template <typename E, typename T>
void RaiseOutsideRange(T value, T low, T high, const std::string& message = {}) {
    if (value < low || value > high) throw E(message);
}

#pragma once
// The error an action raises, for tests that look into it.

#include <stdexcept>

namespace vyktest {

// What action raises as E; when it raises nothing, the test fails with an
// error of its own (another error passes on and fails it too).
template <typename E, typename F> E Raised(F&& action) {
    try {
        action();
    } catch (const E& error) {
        return error;
    }
    throw std::logic_error("nothing was raised");
}

} // namespace vyktest

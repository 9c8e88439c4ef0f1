#pragma once

#include <functional>

// Runs events (a test server in the test's own process lives on them) until the condition holds
// or the time is up; false when the time ran out.
bool spinUntil(const std::function<bool()>& done, int timeoutMs);

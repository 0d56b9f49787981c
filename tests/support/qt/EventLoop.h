#pragma once
#include <functional>

namespace kobito::test {

// Runs a real event loop, as the program's own, until predicate holds or
// timeoutMs pass; true if it held. QTest::qWaitFor sleeps 10 ms between its
// passes over the events, so the window's timers fire up to 10 ms late and a
// tick of Timer1 lands on that 10 ms beat: where the timing of the window is
// measured, wait here instead. The predicate is checked every checkMs.
bool RunEventLoopUntil(const std::function<bool()>& predicate, int timeoutMs, int checkMs = 5);

} // namespace kobito::test

// Running window messages on the test's own thread.
#pragma once

// Runs whatever is already waiting for this thread, without blocking; a
// quit message is dropped so that a later loop is not ended by it.
void pump_pending();

#pragma once

#include <chrono>
#include <functional>

// The one loop the tests wait in: it goes through the platform's own wait,
// which dispatches the thread's messages, socket notifications and timers as
// they come. The deadline is generous: it turns a lost message into a failure
// instead of a hang, and measures no speed.

// Dispatches until the condition holds; false when the deadline passed first.
// The condition is tested at least every 20 ms, so one that another thread
// makes true (without a message to this thread) is seen as well.
bool DispatchUntil(const std::function<bool()>& condition,
                   std::chrono::milliseconds deadline = std::chrono::seconds(30));

// Dispatches everything that comes within the period, to show that a message
// does NOT arrive. A slow machine only makes such a check weaker.
void DispatchFor(std::chrono::milliseconds period);

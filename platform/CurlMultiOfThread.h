#pragma once

#include "platform/CurlMulti.h"

#include <memory>

// The one multi handle of the calling thread, which every URL transfer of the
// thread shares, so that connections and name look-ups outlive a transfer.
// Made on first use; null when libcurl cannot make one. Call only on a thread
// with a Qt event dispatcher: the multi handle's notifiers and timer need it.
//
// It lives until the thread ends, and is destroyed on that thread while the
// thread's dispatcher still stands: for a QThread when the thread finishes
// (with the thread's other QThreadStorage data, before Qt deletes the
// dispatcher), for the application's thread when the application object is
// destroyed (a Qt post routine). Closing it closes the connections it kept.
// A transfer holds a share of it while it is open, so a URL handle closed
// later than that (against the rule that handles belong to their thread)
// still finds it.
std::shared_ptr<CurlMulti> CurlMultiOfThread();

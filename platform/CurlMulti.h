#pragma once

#include <curl/curl.h>

#include <QTimer>

#include <functional>
#include <map>
#include <memory>
#include <set>
#include <vector>

class QSocketNotifier;

// libcurl's multi interface driven by the calling thread's Qt event loop,
// with no thread and no blocking call of its own.
//
// libcurl says which sockets it wants watched (CURLMOPT_SOCKETFUNCTION): each
// gets a read and a write QSocketNotifier, enabled as libcurl asks. It says
// when it next wants to act on its own (CURLMOPT_TIMERFUNCTION): that is one
// single-shot QTimer. A notifier's activation and the timer's expiry both
// call curl_multi_socket_action; after each call, finished transfers are
// collected with curl_multi_info_read and handed to OnDone. All of this runs
// whenever the thread dispatches events: in its event loop or inside a
// dispatching wait (Events.h), which is how the URL service's calls wait.
//
// Re-entrancy: libcurl's callbacks (write, header, pre-request) and OnDone run
// inside curl_multi_socket_action. They may record state, signal events and
// remove their own transfer (OnDone only), but must not dispatch events or
// call Act again; a nested action is refused by an assertion in debug
// builds. Remove may be called from any handler that runs outside an action,
// for example one that cancels a transfer inside a wait.
//
// Threads: an object belongs to the thread that made it (its notifiers and
// timer do).
class CurlMulti {
public:
    CurlMulti();
    // Removes every transfer still added, then cleans up the multi handle.
    ~CurlMulti();
    CurlMulti(const CurlMulti&) = delete;
    CurlMulti& operator=(const CurlMulti&) = delete;

    bool Valid() const { return m_multi != nullptr; }
    // Adds a transfer; it starts the next time the thread dispatches events.
    bool Add(CURL* easy);
    // Ends a transfer: libcurl forgets it, whatever state it was in.
    void Remove(CURL* easy);

    // A transfer finished (with its result); it is still added.
    std::function<void(CURL* easy, CURLcode result)> OnDone;

private:
    struct MultiCleanup {
        void operator()(CURLM* multi) const { curl_multi_cleanup(multi); }
    };
    struct Watched {
        std::unique_ptr<QSocketNotifier> read;
        std::unique_ptr<QSocketNotifier> write;
    };

    static int OnSocket(CURL* easy, curl_socket_t socket, int what, void* self, void* socketData);
    static int OnTimer(CURLM* multi, long timeoutMs, void* self);
    void Watch(curl_socket_t socket, int what);
    void Act(curl_socket_t socket, int events);
    void CollectDone();

    QTimer m_timer;
    std::map<curl_socket_t, Watched> m_sockets;
    // Notifiers of sockets libcurl stopped watching during an action. One of
    // them may be the notifier whose activation is running, so they are
    // disabled at once and deleted only at the start of the next action.
    std::vector<Watched> m_retired;
    std::set<CURL*> m_added;
    bool m_acting { false };
    // Last, so that it is cleaned up first: libcurl may still call the socket
    // and timer callbacks while it closes its connections.
    std::unique_ptr<CURLM, MultiCleanup> m_multi;
};

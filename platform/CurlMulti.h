#pragma once

#include <curl/curl.h>

#include <QTimer>

#include <functional>
#include <map>
#include <memory>
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
// collected with curl_multi_info_read and handed to the done function their
// transfer was added with. All of this runs whenever the thread dispatches
// events: in its event loop or inside a dispatching wait (Events.h), which is
// how the URL service's calls wait.
//
// One object serves many transfers at once (the URL service keeps one per
// thread, CurlMultiOfThread.h), so that libcurl's connection and name caches,
// which belong to the multi handle, outlive each transfer: a connection kept
// alive by one transfer carries the next one to the same server. A paused
// transfer holds only its own connection; the others go on.
//
// Re-entrancy: libcurl's callbacks (write, header, pre-request) run inside
// curl_multi_socket_action. They may record state and signal events, but must
// not dispatch events or call Act again; a nested action is refused by an
// assertion in debug builds. Done functions run after the action; they may
// remove their own transfer. Remove may be called from any handler that runs
// outside an action, for example one that cancels a transfer inside a wait.
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
    // onDone learns its result once libcurl has finished it; it is still
    // added then.
    bool Add(CURL* easy, std::function<void(CURLcode result)> onDone);
    // Ends a transfer: libcurl forgets it, whatever state it was in. A
    // finished transfer leaves its connection in the cache for the next one.
    void Remove(CURL* easy);

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
    // The transfers added, each with its done function.
    std::map<CURL*, std::function<void(CURLcode)>> m_added;
    bool m_acting { false };
    // Last, so that it is cleaned up first: libcurl may still call the socket
    // and timer callbacks while it closes its connections.
    std::unique_ptr<CURLM, MultiCleanup> m_multi;
};

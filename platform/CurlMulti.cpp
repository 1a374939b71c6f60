#include "platform/CurlMulti.h"

#include <QSocketNotifier>

#include <cassert>

namespace {

// Idle connections the multi handle keeps for later transfers. Pictures come
// from a few hosts, one transfer at a time on most threads.
constexpr long kKeptConnections = 8;

} // namespace

CurlMulti::CurlMulti() : m_multi(curl_multi_init()) {
    m_timer.setSingleShot(true);
    m_timer.setTimerType(Qt::PreciseTimer);
    QObject::connect(&m_timer, &QTimer::timeout, [this] { Act(CURL_SOCKET_TIMEOUT, 0); });
    if (!m_multi)
        return;
    curl_multi_setopt(m_multi.get(), CURLMOPT_SOCKETFUNCTION, &CurlMulti::OnSocket);
    curl_multi_setopt(m_multi.get(), CURLMOPT_SOCKETDATA, this);
    curl_multi_setopt(m_multi.get(), CURLMOPT_TIMERFUNCTION, &CurlMulti::OnTimer);
    curl_multi_setopt(m_multi.get(), CURLMOPT_TIMERDATA, this);
    curl_multi_setopt(m_multi.get(), CURLMOPT_MAXCONNECTS, kKeptConnections);
}

CurlMulti::~CurlMulti() {
    for (const auto& [easy, onDone] : m_added)
        curl_multi_remove_handle(m_multi.get(), easy);
    m_multi.reset();
}

bool CurlMulti::Add(CURL* easy, std::function<void(CURLcode)> onDone) {
    if (!m_multi || curl_multi_add_handle(m_multi.get(), easy) != CURLM_OK)
        return false;
    m_added.insert_or_assign(easy, std::move(onDone));
    return true;
}

void CurlMulti::Remove(CURL* easy) {
    assert(!m_acting && "a transfer removed from inside libcurl's own callbacks");
    if (m_added.erase(easy) != 0)
        curl_multi_remove_handle(m_multi.get(), easy);
}

int CurlMulti::OnSocket(CURL*, curl_socket_t socket, int what, void* self, void*) {
    static_cast<CurlMulti*>(self)->Watch(socket, what);
    return 0;
}

// libcurl asks for the timer from inside its own calls, where acting again
// is not allowed; even "at once" (0) therefore goes through the event loop.
int CurlMulti::OnTimer(CURLM*, long timeoutMs, void* self) {
    auto& timer = static_cast<CurlMulti*>(self)->m_timer;
    if (timeoutMs < 0)
        timer.stop();
    else
        timer.start(static_cast<int>(timeoutMs));
    return 0;
}

void CurlMulti::Watch(curl_socket_t socket, int what) {
    auto found = m_sockets.find(socket);
    if (what == CURL_POLL_REMOVE) {
        if (found == m_sockets.end())
            return;
        found->second.read->setEnabled(false);
        found->second.write->setEnabled(false);
        m_retired.push_back(std::move(found->second));
        m_sockets.erase(found);
        return;
    }
    if (found == m_sockets.end()) {
        Watched watched { std::make_unique<QSocketNotifier>(socket, QSocketNotifier::Read),
                          std::make_unique<QSocketNotifier>(socket, QSocketNotifier::Write) };
        QObject::connect(watched.read.get(), &QSocketNotifier::activated,
                         [this, socket] { Act(socket, CURL_CSELECT_IN); });
        QObject::connect(watched.write.get(), &QSocketNotifier::activated,
                         [this, socket] { Act(socket, CURL_CSELECT_OUT); });
        found = m_sockets.emplace(socket, std::move(watched)).first;
    }
    found->second.read->setEnabled(what == CURL_POLL_IN || what == CURL_POLL_INOUT);
    found->second.write->setEnabled(what == CURL_POLL_OUT || what == CURL_POLL_INOUT);
}

void CurlMulti::Act(curl_socket_t socket, int events) {
    assert(!m_acting && "curl_multi_socket_action called from inside itself");
    if (!m_multi)
        return;
    m_retired.clear();
    int running = 0;
    m_acting = true;
    curl_multi_socket_action(m_multi.get(), socket, events, &running);
    m_acting = false;
    CollectDone();
}

void CurlMulti::CollectDone() {
    int queued = 0;
    while (CURLMsg* message = curl_multi_info_read(m_multi.get(), &queued)) {
        if (message->msg != CURLMSG_DONE)
            continue;
        // The message is only valid until the next call into the multi
        // handle, and the done function may remove its transfer: both are
        // copied first.
        const auto found = m_added.find(message->easy_handle);
        if (found == m_added.end() || !found->second)
            continue;
        const CURLcode result = message->data.result;
        const std::function<void(CURLcode)> onDone = found->second;
        onDone(result);
    }
}

#include "platform/WallpaperPortal.h"

#include "platform/Events.h"
#include "platform/PortalResponses.h"

#include <QDBusConnection>
#include <QDBusError>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusUnixFileDescriptor>
#include <QObject>
#include <QVariantMap>

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

constexpr const char* PortalService = "org.freedesktop.portal.Desktop";
constexpr const char* PortalPath = "/org/freedesktop/portal/desktop";
constexpr const char* WallpaperInterface = "org.freedesktop.portal.Wallpaper";
constexpr const char* RequestInterface = "org.freedesktop.portal.Request";

// The backstop for a call whose own time-out (the bus's NoReply) went
// missing.
constexpr auto CallBoundMargin = std::chrono::seconds(1);

// What an error answer to the call means. A bus answers a call to a name
// that nobody owns, or an object without the method, at once.
struct TCallError {
    const char* name;
    TWallpaperOutcome outcome;
};

constexpr TCallError CallErrors[] = {
    { "org.freedesktop.DBus.Error.ServiceUnknown", TWallpaperOutcome::NoPortal },
    { "org.freedesktop.DBus.Error.NameHasNoOwner", TWallpaperOutcome::NoPortal },
    { "org.freedesktop.DBus.Error.UnknownMethod", TWallpaperOutcome::NoPortal },
    { "org.freedesktop.DBus.Error.UnknownInterface", TWallpaperOutcome::NoPortal },
    { "org.freedesktop.DBus.Error.UnknownObject", TWallpaperOutcome::NoPortal },
    { "org.freedesktop.DBus.Error.NoReply", TWallpaperOutcome::NoReply },
    { "org.freedesktop.DBus.Error.Timeout", TWallpaperOutcome::NoReply },
    { "org.freedesktop.DBus.Error.TimedOut", TWallpaperOutcome::NoReply },
};

TWallpaperResult ErrorResult(const QDBusError& error) {
    const QString name = error.name();
    const auto known = std::find_if(std::begin(CallErrors), std::end(CallErrors),
                                    [&name](const TCallError& row) { return name == row.name; });
    TWallpaperResult result;
    result.Outcome = known == std::end(CallErrors) ? TWallpaperOutcome::Failed : known->outcome;
    result.Detail = error.message().toStdString();
    return result;
}

TWallpaperResult Outcome(TWallpaperOutcome outcome) {
    TWallpaperResult result;
    result.Outcome = outcome;
    return result;
}

// The one owner of the picture's descriptor; the call's message holds a
// duplicate of its own.
class TPictureFile {
public:
    explicit TPictureFile(const std::string& name)
        : m_fd(::open(name.c_str(), O_RDONLY | O_CLOEXEC)), m_error(m_fd < 0 ? errno : 0) {}
    ~TPictureFile() {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    TPictureFile(const TPictureFile&) = delete;
    TPictureFile& operator=(const TPictureFile&) = delete;

    int Fd() const { return m_fd; }
    int Error() const { return m_error; }

private:
    int m_fd { -1 };
    int m_error { 0 };
};

enum class TWaitEnd { Done, TimedOut, Abandoned };

// Dispatches the thread's events until `done` holds, the deadline passes or
// the caller abandons the request.
TWaitEnd WaitUntil(const EventObject& wake, const std::function<bool()>& done,
                   Clock::time_point deadline, const std::function<bool()>& abandon) {
    for (;;) {
        if (done())
            return TWaitEnd::Done;
        if (abandon && abandon())
            return TWaitEnd::Abandoned;
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0)
            return TWaitEnd::TimedOut;
        const HANDLE handle = wake.Handle();
        MsgWaitForMultipleObjects(1, &handle, false, static_cast<DWORD>(left.count()), QS_ALLINPUT);
    }
}

// Asks the portal to drop a request nobody waits for any more (its dialog
// closes); no answer is awaited.
void CloseRequest(QDBusConnection& bus, const QString& handle) {
    bus.send(QDBusMessage::createMethodCall(PortalService, handle, RequestInterface,
                                            QStringLiteral("Close")));
}

} // namespace

TWallpaperResult SetWallpaperFile(const TWallpaperRequest& request) {
    const TPictureFile picture(request.FileName);
    if (picture.Fd() < 0) {
        TWallpaperResult result = Outcome(TWallpaperOutcome::Unreadable);
        result.SystemError = picture.Error();
        return result;
    }
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        TWallpaperResult result = Outcome(TWallpaperOutcome::NoPortal);
        result.Detail = bus.lastError().message().toStdString();
        return result;
    }
    if (!(bus.connectionCapabilities() & QDBusConnection::UnixFileDescriptorPassing)) {
        TWallpaperResult result = Outcome(TWallpaperOutcome::NoPortal);
        result.Detail = "the session bus cannot pass files";
        return result;
    }

    const EventObject arrived(false);
    TPortalResponses responses(bus, PortalService, arrived);
    QDBusMessage call = QDBusMessage::createMethodCall(
        PortalService, PortalPath, WallpaperInterface, QStringLiteral("SetWallpaperFile"));
    const QVariantMap options { { QStringLiteral("show-preview"), true },
                                { QStringLiteral("set-on"), QStringLiteral("background") } };
    call << QString::fromStdString(request.ParentWindow)
         << QVariant::fromValue(QDBusUnixFileDescriptor(picture.Fd())) << options;
    const QDBusPendingCall pending =
        bus.asyncCall(call, static_cast<int>(request.CallBound.count()));
    QDBusPendingCallWatcher watcher(pending);
    QObject::connect(&watcher, &QDBusPendingCallWatcher::finished, [&arrived] { arrived.Set(); });

    const TWaitEnd called = WaitUntil(
        arrived, [&pending] { return pending.isFinished(); },
        Clock::now() + request.CallBound + CallBoundMargin, request.Abandon);
    if (called == TWaitEnd::TimedOut)
        return Outcome(TWallpaperOutcome::NoReply);
    if (called == TWaitEnd::Abandoned)
        return Outcome(TWallpaperOutcome::Abandoned);
    const QDBusPendingReply<QDBusObjectPath> reply = pending;
    if (reply.isError())
        return ErrorResult(reply.error());

    const QString handle = reply.value().path();
    const TWaitEnd answered = WaitUntil(
        arrived, [&] { return responses.Has(handle); }, Clock::now() + request.AnswerBound,
        request.Abandon);
    if (answered != TWaitEnd::Done) {
        CloseRequest(bus, handle);
        return Outcome(answered == TWaitEnd::TimedOut ? TWallpaperOutcome::NoAnswer
                                                      : TWallpaperOutcome::Abandoned);
    }
    switch (responses.Answer(handle)) {
    case 0:
        return Outcome(TWallpaperOutcome::Done);
    case 1:
        return Outcome(TWallpaperOutcome::Cancelled);
    default:
        return Outcome(TWallpaperOutcome::Failed);
    }
}

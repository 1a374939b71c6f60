#include "platform/PortalResponses.h"

#include "platform/Events.h"

#include <QDBusMessage>

namespace {

constexpr const char* RequestInterface = "org.freedesktop.portal.Request";

} // namespace

TPortalResponses::TPortalResponses(QDBusConnection bus, const QString& service,
                                   const EventObject& arrived)
    : m_bus(std::move(bus)), m_service(service), m_arrived(arrived) {
    m_bus.connect(m_service, QString(), RequestInterface, QStringLiteral("Response"), this,
                  SLOT(Response(uint, QVariantMap, QDBusMessage)));
}

TPortalResponses::~TPortalResponses() {
    m_bus.disconnect(m_service, QString(), RequestInterface, QStringLiteral("Response"), this,
                     SLOT(Response(uint, QVariantMap, QDBusMessage)));
}

void TPortalResponses::Response(uint response, const QVariantMap&, const QDBusMessage& message) {
    m_answers.insert(message.path(), response);
    m_arrived.Set();
}

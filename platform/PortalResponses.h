#pragma once

#include <QDBusConnection>
#include <QHash>
#include <QObject>
#include <QString>
#include <QVariantMap>

class EventObject;
class QDBusMessage;

// Every Response signal the desktop portal sends while this object lives,
// by request path (org.freedesktop.portal.Request.Response: 0 done, 1
// cancelled by the user, 2 anything else). It listens for any path, from
// the portal's owner only, because the portal may answer before the reply
// that names the request's path has been read. Each answer sets `arrived`.
class TPortalResponses : public QObject {
    Q_OBJECT
public:
    TPortalResponses(QDBusConnection bus, const QString& service, const EventObject& arrived);
    ~TPortalResponses() override;

    bool Has(const QString& handle) const { return m_answers.contains(handle); }
    uint Answer(const QString& handle) const { return m_answers.value(handle); }

private slots:
    void Response(uint response, const QVariantMap& results, const QDBusMessage& message);

private:
    QDBusConnection m_bus;
    QString m_service;
    const EventObject& m_arrived;
    QHash<QString, uint> m_answers;
};

#include "app/desktop_notification.h"

#include <QDBusConnection>
#include <QDBusInterface>
#include <QDBusReply>
#include <QString>
#include <QStringList>
#include <QVariantMap>

#include "app/message_model.h"
#include "decoder/cp932.h"

namespace brontel {

bool NotifyDesktop(const msg::TMessage& message)
{
  QDBusConnection bus = QDBusConnection::sessionBus();
  if (!bus.isConnected()) return false;
  QDBusInterface service(QStringLiteral("org.freedesktop.Notifications"),
                         QStringLiteral("/org/freedesktop/Notifications"),
                         QStringLiteral("org.freedesktop.Notifications"), bus);
  if (!service.isValid()) return false;
  const QString summary = QStringLiteral("NAVTEX %1: %2")
                              .arg(QString::fromStdString(message.Id), SubjectText(message.Subject));
  QString body = QString::fromStdString(Cp932ToUtf8(message.Text));
  if (body.size() > 300) body = body.left(300) + QStringLiteral("…");
  QVariantMap hints;
  hints.insert(QStringLiteral("urgency"), QVariant::fromValue(static_cast<uchar>(2)));  // critical
  hints.insert(QStringLiteral("desktop-entry"), QStringLiteral("brontel"));
  const QDBusReply<uint> reply =
      service.call(QStringLiteral("Notify"), QStringLiteral("Brontel"), 0u, QStringLiteral("brontel"), summary, body,
                   QStringList(), hints, -1);
  return reply.isValid();
}

}  // namespace brontel

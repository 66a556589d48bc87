#include "ObjectMapReport.h"

#include <QQuickItem>
#include <QQuickWindow>
#include <QSaveFile>
#include <QTimer>

#include <memory>

namespace tmb {

namespace {

// What a driver waits for after acting on an item: its value (knobs, spin boxes),
// whether it is shown as on (checked or highlighted buttons, switches), or "-".
QString stateOf(const QQuickItem* item) {
    const QVariant value = item->property("value");
    if (value.isValid() && value.canConvert<double>()) return QString::number(value.toDouble(), 'g', 6);
    const QVariant checked = item->property("checked");
    if (checked.isValid())
        return checked.toBool() || item->property("highlighted").toBool() ? QStringLiteral("1")
                                                                          : QStringLiteral("0");
    return QStringLiteral("-");
}

void describe(const QQuickItem* item, QByteArray* out) {
    if (!item->isVisible()) return;
    if (!item->objectName().isEmpty()) {
        const QPointF origin = item->mapToScene(QPointF(0, 0));
        *out += QStringLiteral("%1 %2 %3 %4 %5 %6\n")
                    .arg(item->objectName())
                    .arg(qRound(origin.x()))
                    .arg(qRound(origin.y()))
                    .arg(qRound(item->width()))
                    .arg(qRound(item->height()))
                    .arg(stateOf(item))
                    .toUtf8();
    }
    for (const QQuickItem* child : item->childItems())
        describe(child, out);
}

} // namespace

void publishObjectMapIfRequested(QQuickWindow* window) {
    const QString path = qEnvironmentVariable("TEMBORA_OBJECT_MAP");
    if (path.isEmpty() || window == nullptr) return;
    auto* timer = new QTimer(window);
    auto written = std::make_shared<QByteArray>();
    QObject::connect(timer, &QTimer::timeout, window, [window, path, written] {
        QByteArray map;
        describe(window->contentItem(), &map);
        if (map == *written) return;
        QSaveFile file(path);
        if (!file.open(QIODevice::WriteOnly) || file.write(map) != map.size() || !file.commit()) return;
        *written = map;
    });
    timer->start(250);
}

} // namespace tmb

#include "QtCanPluginPort.h"

#include <QEventLoop>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QTimer>
#include <QUrl>

namespace tarvo {

namespace {
class QtBusModule : public BusModule {
public:
    std::unique_ptr<CanPluginPort> canPort(const CanAdapterPlace& place) override {
        return std::make_unique<QtCanPluginPort>(place);
    }

    QByteArray fetch(const QString& location, int timeLimitMs) override {
        QNetworkAccessManager manager;
        QNetworkRequest request{QUrl(location)};
        request.setTransferTimeout(timeLimitMs);
        QNetworkReply* reply = manager.get(request);
        QEventLoop loop;
        QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
        // The transfer limit counts from the last data received; this one ends a server that trickles.
        QTimer guard;
        guard.setSingleShot(true);
        QObject::connect(&guard, &QTimer::timeout, reply, &QNetworkReply::abort);
        guard.start(timeLimitMs + 500);
        if (!reply->isFinished())
            loop.exec(QEventLoop::ExcludeUserInputEvents);
        const QByteArray body = reply->error() == QNetworkReply::NoError ? reply->readAll() : QByteArray();
        reply->deleteLater();
        return body;
    }
};
} // namespace

} // namespace tarvo

extern "C" __attribute__((visibility("default"))) void* tarvoBusModule() {
    static tarvo::QtBusModule module;
    return static_cast<tarvo::BusModule*>(&module);
}

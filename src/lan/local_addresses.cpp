#include "lan/local_addresses.h"

#include <QHostAddress>
#include <QNetworkInterface>

#include <algorithm>

namespace varnix {

int GetLocalIPList(std::vector<std::string>& list, bool includeLoopback) {
    QList<QNetworkInterface> interfaces = QNetworkInterface::allInterfaces();
    if (interfaces.isEmpty())
        return 0;
    std::stable_sort(
        interfaces.begin(), interfaces.end(),
        [](const QNetworkInterface& a, const QNetworkInterface& b) { return a.index() < b.index(); });
    std::vector<std::string> found;
    for (const QNetworkInterface& iface : interfaces) {
        const auto flags = iface.flags();
        if (!flags.testFlag(QNetworkInterface::IsUp))
            continue;
        if (flags.testFlag(QNetworkInterface::IsLoopBack) && !includeLoopback)
            continue;
        for (const QNetworkAddressEntry& entry : iface.addressEntries()) {
            const QHostAddress ip = entry.ip();
            if (ip.protocol() != QAbstractSocket::IPv4Protocol)
                continue;
            found.push_back(ip.toString().toStdString());
        }
    }
    list = std::move(found);
    return static_cast<int>(list.size());
}

std::string LocalNetmask(const std::string& address) {
    const QHostAddress wanted(QString::fromStdString(address));
    for (const QNetworkInterface& iface : QNetworkInterface::allInterfaces()) {
        if (!iface.flags().testFlag(QNetworkInterface::IsUp))
            continue;
        for (const QNetworkAddressEntry& entry : iface.addressEntries())
            if (entry.ip() == wanted)
                return entry.netmask().toString().toStdString();
    }
    return {};
}

} // namespace varnix

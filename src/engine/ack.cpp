#include "engine/ack.h"

#include "lan/lan_protocol.h"

namespace varnix {

std::optional<TAck> AckOfStatus(std::int32_t code, const std::string& text) {
    TAck ack;
    if (code == stAck)
        ack.Result = 'K';
    else if (code == stPswdError)
        ack.Result = 'P';
    else if (code == stOtherError)
        ack.Result = 'E';
    else if (code == stCheckError) {
        ack.Result = 'C';
        ack.Expected = QString::fromStdString(text).toInt(nullptr, 16);
    } else {
        return std::nullopt;
    }
    return ack;
}

QString AckResultText(const TAck& a) {
    switch (a.Result) {
    case 'K':
        return QStringLiteral("K (acknowledged)");
    case 'P':
        return QStringLiteral("P (user name or password wrong)");
    case 'E':
        return QStringLiteral("E (the module reported an error)");
    case 'C':
        return QStringLiteral("checksum error (the module expected %1)")
            .arg(a.Expected, 2, 16, QLatin1Char('0'))
            .toUpper();
    default:
        return QStringLiteral("?");
    }
}

QString AckShortText(const TAck& a) {
    return a.Result == 'C' ? QStringLiteral("checksum") : QString(QLatin1Char(a.Result));
}

TOutcome AckOutcome(const TAck& a) {
    switch (a.Result) {
    case 'K':
        return TOutcome::Ok;
    case 'P':
        return TOutcome::Password;
    default:
        return TOutcome::ModuleError;
    }
}

} // namespace varnix

#pragma once
// How the catalogue's values meet the decoded settings: whole numbers as JSON numbers, module
// texts through the one byte/text conversion, the heartbeat block's flag bits, and the data
// fields as text or as hex pairs. Shared by the field table's accessors and the value checks.

#include "model/module_settings.h"

#include <QJsonValue>
#include <QString>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace varnix::fieldcodec {

QJsonValue Num(std::int64_t v);
// Values reach the setters only through ParseFieldText/ParseFieldJson, which keep numbers whole
// and far inside the 64-bit range; anything else (NaN, 1e300) reads as -1, which no field
// accepts, instead of being converted (a double outside the integer's range is undefined).
std::int64_t AsInt(const QJsonValue& v);
// A module text for display, and back to the module's bytes.
QString Wire(const std::string& bytes);
std::string TextBytes(const QString& text);
std::string ToWire(const QJsonValue& v);

// Bits of the heartbeat block's flags byte.
inline constexpr std::uint8_t HNet = 0x01, HSerial = 0x02, HRegConnect = 0x04, HRegWithData = 0x08,
                              HRemoveHeader = 0x10, HSerialSet = 0x20, HHeartHex = 0x40, HRegHex = 0x80;
bool HeartBit(const TModuleSettings& s, std::uint8_t bit);
void SetHeartBit(TModuleSettings& s, std::uint8_t bit, bool on);

// A data field's bytes as its value: hex pairs, or the text.
QJsonValue DataValue(const std::vector<std::uint8_t>& data, bool hex);
// Whole hex pairs only (spaces between pairs allowed); nothing else.
std::optional<std::vector<std::uint8_t>> StrictHex(const QString& text);
std::vector<std::uint8_t> DataFromValue(const QJsonValue& v, bool hex);

} // namespace varnix::fieldcodec

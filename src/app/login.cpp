#include "app/login.h"

namespace varnix {

QString LoginUserName = DefaultLoginText.toString();
QString LoginPassword = DefaultLoginText.toString();

} // namespace varnix

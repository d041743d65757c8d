#include "platform/system/TimeZone.h"

#include <cstdlib>
#include <ctime>

void PinTimeZone() {
  // Not overwritten: a zone the user chose stays.
  if (::setenv("TZ", ":/etc/localtime", 0) == 0) ::tzset();
}

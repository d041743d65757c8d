#pragma once
// Without TZ the C library reads the time zone file again at every mktime, and
// libarchive calls mktime for each entry's time: a 100,000-entry ZIP cost as
// many stat calls. Naming the same file once keeps the zone and drops the calls.
// Call first thing in main, before any thread starts (it sets the environment).
void PinTimeZone();

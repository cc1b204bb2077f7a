#pragma once

#include <ctime>

namespace orrin {

// `when` in the local time zone, safe to call from any thread.
std::tm LocalTime(std::time_t when);

}  // namespace orrin

#include "engines/fat/fat_time.h"

#include <ctime>

int64_t fat_time_to_unix(uint16_t date, uint16_t time) {
    std::tm calendar{};
    calendar.tm_sec = (time & 0x1F) * 2;
    calendar.tm_min = (time >> 5) & 0x3F;
    calendar.tm_hour = (time >> 11) & 0x1F;
    calendar.tm_mday = date & 0x1F;
    calendar.tm_mon = ((date >> 5) & 0x0F) - 1;
    calendar.tm_year = (date >> 9) + 80;
    calendar.tm_isdst = 0;
    std::time_t seconds = std::mktime(&calendar);
    return seconds == std::time_t(-1) ? 0 : int64_t(seconds);
}

#include "eeprom/confirmed_read.hpp"

#include <cstring>

namespace ft232h {

bool ReadConfirmedEeprom(const D2xxBinding& d2xx, FtHandle handle, EepromRecord& record, EepromStrings& strings) {
    // FTDI's library reports success once the EEPROM's first word has been
    // read, even when a cable that fails half-way leaves the rest unread and
    // the record made of whatever it had. So a read counts only when a second
    // one, from the same starting bytes, gives the very same record and
    // strings.
    EepromRecord again = record;
    EepromStrings againStrings = strings;
    if (d2xx.ReadEeprom(handle, record, strings) != kFtOk || d2xx.ReadEeprom(handle, again, againStrings) != kFtOk) {
        return false;
    }
    return std::memcmp(&again, &record, sizeof record) == 0 &&
           std::memcmp(&againStrings, &strings, sizeof strings) == 0;
}

}  // namespace ft232h

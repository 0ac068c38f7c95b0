// Why libftdi1's FT_Open (d2xx/ftdi.cpp) failed, in the user's terms.
#include "d2xx/d2xx.h"

namespace pitchime::d2xx {

const char* openFailureReason(FT_STATUS status) {
    switch (status) {
        case FT_DEVICE_NOT_FOUND:
            return "no FTDI chip with the default ids (0403:6001, 6010, 6011, 6014, 6015) is attached; plug "
                   "the board in and check 'lsusb -d 0403:6001'";
        case FT_DEVICE_NOT_OPENED:
            return "the chip is there but could not be claimed: no permission to use it, or another program "
                   "or a serial driver holds it; see README, \"Playing on a real board\"";
        case FT_INSUFFICIENT_RESOURCES:
            return "libftdi1 could not be set up (out of memory); try again";
        default:
            return "an unexpected status from opening the chip with libftdi1";
    }
}

}  // namespace pitchime::d2xx

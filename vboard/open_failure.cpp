// Why the virtual tone board's FT_Open failed, in the user's terms.
#include "d2xx/d2xx.h"

namespace pitchime::d2xx {

const char* openFailureReason(FT_STATUS status) {
    switch (status) {
        case FT_DEVICE_NOT_FOUND:
            return "no virtual tone board is attached, as PITCHIME_VBOARD_DEVICES=0; unset it or set it to 1 "
                   "or more";
        case FT_DEVICE_NOT_OPENED:
            return "the virtual tone board is already open in this program";
        default:
            return "the virtual tone board's FT_Open gives no such status";
    }
}

}  // namespace pitchime::d2xx

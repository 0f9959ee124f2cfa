#include "s7_status.h"

extern "C" uint8_t s7_result(s7_status status) {
    switch (status) {
    case S7_STATUS_RESOLVE: return S7_ERR_CONNECT;
    case S7_STATUS_CLOSED:
    case S7_STATUS_SOCKET:
    case S7_STATUS_TOO_LARGE: return S7_ERR_TRANSPORT;
    case S7_STATUS_CONFIRM:
    case S7_STATUS_BOUNDS:
    case S7_STATUS_RANGE: return S7_ERR_PROTOCOL;
    case S7_STATUS_ANSWER_TOO_LARGE: return S7_ERR_NO_MEMORY;
    default:
        // Every other status is a public code of the same number.
        return static_cast<uint8_t>(status);
    }
}

// The three functions libPLlog.so exports. A logging library must never
// break its caller: nothing thrown inside gets past these.

#include "common/PLlogAbi.h"
#include "pllog/FieldText.h"
#include "pllog/Recorder.h"

using plx::textOf;

extern "C" {

PLLOG_EXPORT void logAPI(int16_t type, int32_t code, int32_t detail, const char* message, const char* sessionId,
                         const char* apiName, const char* argumentLine) {
    try {
        plx::recordApiCall(type, {.code = code,
                                  .detail = detail,
                                  .message = textOf(message),
                                  .sessionId = textOf(sessionId),
                                  .apiName = textOf(apiName),
                                  .argumentLine = textOf(argumentLine)});
    } catch (...) {
    }
}

PLLOG_EXPORT void sessionAPI(int16_t type, int32_t level, const char* start, const char* end, int32_t transferKind,
                             int32_t phase, int32_t resultCode, int32_t detail, const char* sessionId,
                             const PLlogTerminalRec* term, const PLlogFileRec* file, int32_t /*reserved*/,
                             const char* centerFileName, const char* loadNo, const char* recordKey) {
    try {
        plx::recordSession(type, {.level = level,
                                  .start = textOf(start),
                                  .end = textOf(end),
                                  .transferKind = transferKind,
                                  .phase = phase,
                                  .resultCode = resultCode,
                                  .detail = detail,
                                  .sessionId = textOf(sessionId),
                                  .term = term,
                                  .file = file,
                                  .centerFileName = textOf(centerFileName),
                                  .loadNo = textOf(loadNo),
                                  .recordKey = textOf(recordKey)});
    } catch (...) {
    }
}

PLLOG_EXPORT void logPrint(const char* text) {
    try {
        plx::recordProcessInfo(textOf(text));
    } catch (...) {
    }
}

} // extern "C"

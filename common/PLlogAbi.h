#pragma once
/* The C interface of libPLlog.so, shared by the library and the logging
 * bridge. Texts are UTF-8; a null pointer stands for an empty text. The
 * records are read only: the library never changes the caller's record. */

#include <stdint.h>

#if defined(__GNUC__)
#define PLLOG_EXPORT __attribute__((visibility("default")))
#else
#define PLLOG_EXPORT
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* TerminalRec, field for field. */
typedef struct PLlogTerminalRec {
    const char* TerminalID;
    const char* CenterID;
    const char* CenterHost;
    const char* CenterURL;
    const char* Password;
    const char* ProtocolVersion;
    const char* ProxyServer;
    const char* ProxyUser;
    const char* ProxyPassword;
} PLlogTerminalRec;

/* FileRec, field for field. */
typedef struct PLlogFileRec {
    const char* FileType;
    const char* DataName;
    int32_t ServiceNo;
    const char* ProtocolFilename;
    const char* AccessKey;
    int32_t RecordLength;
    int32_t CompressID;
    const char* UserData;
    const char* SvDataFilename;
    const char* ClTempFilename;
    const char* SetDateTime;
    int32_t FileSize;
    const char* ClDataDirectory;
    const char* ClDataFilename;
    const char* LimitDate;
    int32_t Status;
} PLlogFileRec;

/* One line in the day's API log; type 0 means no journal entry, 1 error,
 * 2 warning. */
PLLOG_EXPORT void logAPI(int16_t type, int32_t code, int32_t detail, const char* message, const char* sessionId,
                         const char* apiName, const char* argumentLine);

/* One line in the day's session log; reserved is not read. */
PLLOG_EXPORT void sessionAPI(int16_t type, int32_t level, const char* start, const char* end, int32_t transferKind,
                             int32_t phase, int32_t resultCode, int32_t detail, const char* sessionId,
                             const PLlogTerminalRec* term, const PLlogFileRec* file, int32_t reserved,
                             const char* centerFileName, const char* loadNo, const char* recordKey);

/* One information entry in the journal; no file. */
PLLOG_EXPORT void logPrint(const char* text);

typedef void (*PLlogLogApiFn)(int16_t, int32_t, int32_t, const char*, const char*, const char*, const char*);
typedef void (*PLlogSessionApiFn)(int16_t, int32_t, const char*, const char*, int32_t, int32_t, int32_t, int32_t,
                                  const char*, const PLlogTerminalRec*, const PLlogFileRec*, int32_t, const char*,
                                  const char*, const char*);
typedef void (*PLlogLogPrintFn)(const char*);

#ifdef __cplusplus
}
#endif

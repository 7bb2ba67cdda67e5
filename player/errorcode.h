#pragma once
// Result codes of the music engine.  Every engine operation answers one of
// these; 0 is success.  A few codes are ordinary flow control between the
// stages rather than failures: 7 (no room now), 24 (no data yet), 28 (the
// unit is shutting down), 29 (an in-band event is due), 31 (preference
// missing, use the default) and 33 (end of stream).
#include <cstdint>

enum ErrorCode : int32_t {
  kError_NoErr = 0,
  kError_UnknownErr = 1,
  kError_InvalidParam = 2,
  kError_LoadLibFailed = 3,
  kError_FindFuncFailed = 4,
  kError_NoFiles = 5,
  kError_NoPrefs = 6,
  kError_BufferTooSmall = 7,
  kError_OutOfMemory = 8,
  kError_FileNoAccess = 9,
  kError_FileExists = 10,
  kError_FileInvalidArg = 11,
  kError_FileNotFound = 12,
  kError_FileNoHandles = 13,
  kError_NoMoreLibDirs = 14,
  kError_NullValueInvalid = 15,
  kError_InvalidError = 16,
  kError_PluginNotInitialized = 17,
  kError_GotDefaultMethod = 18,
  kError_InputUnsuccessful = 19,
  kError_FileSeekNotSupported = 20,
  kError_OutputUnsuccessful = 21,
  kError_InitFailed = 22,
  kError_InitFailedSafely = 23,
  kError_NoDataAvail = 24,
  kError_SeekFailed = 25,
  kError_CreateThreadFailed = 26,
  kError_BufferingUp = 27,
  kError_Interrupt = 28,
  kError_EventPending = 29,
  kError_YouScrewedUp = 30,
  kError_NoPrefValue = 31,
  kError_SyntaxError = 32,
  kError_EndOfStream = 33,
  kError_ConnectFailed = 34,
  kError_CantCreateSocket = 35,
  kError_CannotSetSocketOpts = 36,
  kError_CannotBind = 37,
  kError_DbaseItemNotStored = 38,
  kError_ParseError = 39,
  kError_NotFound = 40,
  kError_NoMoreFormats = 41,
  kError_FormatNotSupported = 42,
  kError_NoMoreDevices = 43,
  kError_DeviceNotFound = 44,
  kError_FeatureNotSupported = 45,
  kError_UserCancel = 46,
  kError_LoadBitmapFailed = 47,
  kError_ProtocolNotSupported = 48,
  kError_InvalidURL = 49,
  kError_CantFindHost = 50,
  kError_IOError = 51,
  kError_UnknownServerError = 52,
  kError_BadHTTPRequest = 53,
  kError_AccessNotAuthorized = 54,
  kError_AccessForbidden = 55,
  kError_RangeNotExceptable = 56,
  kError_WriteFile = 57,
  kError_ReadFile = 58,
  kError_InvalidVersion = 59,
  kError_AlreadyUpdating = 60,
  kError_FileDeleteFailed = 61,
  kError_FileCopyFailed = 62,
  kError_NoItemsUpdated = 63,
  kError_DatabaseNotWorking = 64,
  kError_DuplicateItem = 65,
  kError_ItemNotFound = 66,
  kError_FileNotFoundInDatabase = 67,
  kError_CDInitFailed = 68,
  kError_CDPlayFailed = 69,
  kError_DownloadDenied = 70,
  kError_LastError = 71,

  // Results outside the table, without texts: registerUI's and
  // serviceEvent's answer for a null interface or event, and the decoder
  // stage's own failures.
  kError_NullObject = 255,
  kDecoderError_NoSyncFound = 1001,
  kDecoderError_DecoderInitFailed = 1002,
  kDecoderError_CreateThreadFailed = 1003,
};

// The engine's message for a code ("" for codes without a text, such as the
// decoder stage's 1001-1003 or anything else out of the table).
const char* errorText(int32_t code);

#pragma once
// The program's string table and the shell's result codes.
#include <cstddef>

#include "platform/wintypes.h"

constexpr HRESULT errNoDirect3D = static_cast<HRESULT>(0x82000001u);
constexpr HRESULT errNoCompatibleDevices = static_cast<HRESULT>(0x82000003u);
constexpr HRESULT errNoHardwareDevice = static_cast<HRESULT>(0x82000005u);
constexpr HRESULT errHalNotCompatible = static_cast<HRESULT>(0x82000006u);
constexpr HRESULT errNoWindowedHal = static_cast<HRESULT>(0x82000007u);
constexpr HRESULT errHalNotCompatibleWithDesktop = static_cast<HRESULT>(0x82000009u);
constexpr HRESULT errMediaNotFound = static_cast<HRESULT>(0x8200000Bu);
constexpr HRESULT errResetFailed = static_cast<HRESULT>(0x8200000Cu);
constexpr HRESULT errDeviceObjectsFailed = static_cast<HRESULT>(0x8200000Du);
constexpr HRESULT errCreateDeviceFailed = static_cast<HRESULT>(0x8200000Eu);
constexpr HRESULT errNoPreview = static_cast<HRESULT>(0x8200000Fu);
constexpr HRESULT errOutOfVideoMemory = static_cast<HRESULT>(0x8876017Cu);

// The text of string resource `id` (2100..2112 errors, 2200..2212 the
// display settings' explanations); "" for an identifier the table lacks.
const char* loadString(int id);

// The string identifier that explains a result code; 2100 for any code
// without a message of its own.
int stringIdForError(HRESULT code);

// Copies the code's message into `buffer` (cut to fit, always terminated)
// and tells whether the code has a message of its own (identifier other
// than 2100).
bool getTextForError(HRESULT code, char* buffer, size_t size);

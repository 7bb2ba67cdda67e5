#pragma once
// Shared between the SDL window system and the OpenGL Direct3D back end.
#include "platform/window.h"

struct SDL_Window;

namespace platform {

// The process's SDL window system (made on first use).
WindowSystem& sdlWindowSystem();
// Starts SDL's video subsystem once; false when no display can be opened.
bool ensureSdlVideo();
// The SDL window behind one of the SDL window system's windows, or nullptr.
SDL_Window* sdlWindowOf(HWND window);
// The monitor handle the SDL window system gives display `index`.
inline HMONITOR sdlMonitorOfDisplay(int index) { return static_cast<HMONITOR>(0x4D000001u + index); }
inline int sdlDisplayOfMonitor(HMONITOR monitor) { return static_cast<int>(monitor) - 0x4D000001; }

}  // namespace platform

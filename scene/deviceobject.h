#pragma once
// Device objects are reference counted: the scene holds its textures
// through this pointer, which gives its one reference back when it goes.
#include <memory>

#include "platform/d3d8.h"

struct DeviceObjectRelease {
  template <class T>
  void operator()(T* object) const {
    if (object) object->Release();
  }
};

using TexturePtr = std::unique_ptr<Direct3DTexture8, DeviceObjectRelease>;

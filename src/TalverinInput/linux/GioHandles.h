#pragma once

// The owners of GLib and GIO handles are shared by every Linux backend.
#include "Runtime/linux/GioHandles.h"

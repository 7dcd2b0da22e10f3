// Per-thread initialisation of the component runtime.
#include "platform/com.h"

namespace com {

namespace {
thread_local int g_initCount = 0;
}

HRESULT CoInitialize(void*) {
    // Every thread is its own apartment; a second call answers S_FALSE as usual.
    return g_initCount++ == 0 ? S_OK : S_FALSE;
}

void CoUninitialize() {
    if (g_initCount > 0) --g_initCount;
}

}  // namespace com

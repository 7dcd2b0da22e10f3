// A module as another build might have left it: its entry points exist, its
// version is not ours. The engine must refuse it without calling it.
#include <cstdint>
#include <cstdlib>

extern "C" __attribute__((visibility("default"))) std::uint32_t VmModuleAbiVersion() { return 0; }
extern "C" __attribute__((visibility("default"))) void VmFetchHttp() { std::abort(); }
extern "C" __attribute__((visibility("default"))) bool VmRenderSvg() { std::abort(); }

// Compiled help files: unpacked by the help viewer, contents read, topics
// loaded by the add-on. Not built yet: after the frame the run ends with the
// result of a help viewer that cannot be started.
#include "converters.h"
#include "driver.h"
#include "strings.h"

namespace vellumate {

std::int32_t ConvertChm(ConversionContext& ctx, const std::string& source, const std::string& output) {
    (void)source;
    if (std::int32_t r = BeginFileFrame(ctx, output)) return r;
    if (CancelledAndDiscarded(ctx, true, true)) return kCancelled;
    ShowError(ctx, LoadString(IDS_HH_NOT_STARTED));
    ReleaseComObjects(ctx);
    return kChmViewerFailed;
}

}  // namespace vellumate

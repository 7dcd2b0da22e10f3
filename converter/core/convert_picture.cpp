// Pictures: loaded into the PDF document's picture list, one page each.
// Not built yet: after the frame the run ends with "cannot load the picture".
#include "converters.h"
#include "driver.h"
#include "strings.h"

namespace vellumate {

std::int32_t ConvertPicture(ConversionContext& ctx, const std::string& source, const std::string& output) {
    (void)source;
    if (std::int32_t r = BeginFileFrame(ctx, output)) return r;
    if (CancelledAndDiscarded(ctx, false, false)) return kCancelled;
    ShowError(ctx, LoadString(IDS_PICTURE_LOAD_FAILED));
    ReleaseComObjects(ctx);
    return kPictureLoadFailed;
}

}  // namespace vellumate

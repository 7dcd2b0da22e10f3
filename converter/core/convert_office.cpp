// Word, Excel and PowerPoint documents. Printing them through the virtual
// printer is not built yet: after the frame every one ends with its
// "cannot load" result, so a run stops clearly instead of writing an empty PDF.
#include "converters.h"
#include "com_checks.h"
#include "frame.h"
#include "strings.h"

namespace vellumate {
namespace {

std::int32_t NotYet(ConversionContext& ctx, const std::string& source, const std::string& output, int messageId,
                    std::int32_t result) {
    if (std::int32_t r = BeginFileFrame(ctx, output)) return r;
    if (CancelledAndDiscarded(ctx, true, false)) return kCancelled;
    AddFileEntries(ctx, source);
    ShowError(ctx, LoadString(messageId));
    ReleaseComObjects(ctx);
    return result;
}

}  // namespace

std::int32_t ConvertWord(ConversionContext& ctx, const std::string& source, const std::string& output) {
    return NotYet(ctx, source, output, IDS_WORD_LOAD_FAILED, kWordLoadFailed);
}

std::int32_t ConvertExcel(ConversionContext& ctx, const std::string& source, const std::string& output) {
    return NotYet(ctx, source, output, IDS_EXCEL_LOAD_FAILED, kExcelLoadFailed);
}

std::int32_t ConvertPowerPoint(ConversionContext& ctx, const std::string& source, const std::string& output) {
    return NotYet(ctx, source, output, IDS_POWERPOINT_LOAD_FAILED, kPowerPointLoadFailed);
}

}  // namespace vellumate

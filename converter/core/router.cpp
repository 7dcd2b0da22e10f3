#include "router.h"

#include <filesystem>
#include <initializer_list>

#include "com_checks.h"
#include "converters.h"
#include "frame.h"
#include "paths.h"
#include "strings.h"
#include "system.h"

namespace vellumate {
namespace {

bool SamePath(const std::string& a, const std::string& b) {
    std::error_code ec1, ec2;
    auto ca = std::filesystem::weakly_canonical(a, ec1);
    auto cb = std::filesystem::weakly_canonical(b, ec2);
    return !ec1 && !ec2 && ca == cb;
}

}  // namespace

std::string ResolveSource(const RunSetup& setup, const std::string& source) {
    const std::string program = ProgramPathOf(setup);
    return ResolvePath(source, program, program);
}

std::int32_t ConvertFile(ConversionContext& ctx, const std::string& source, const std::string& output) {
    if (ctx.Cancelled()) return kCancelled;
    const std::string program = ProgramPathOf(ctx);
    const std::string src = ResolvePath(source, program, program);
    const std::string out = src.empty() ? std::string() : ResolvePath(output, src, program);

    if (!sys::CanOpenForReading(src)) {
        ShowError(ctx, FormatString(LoadString(IDS_SOURCE_NOT_OPENED).c_str(), src.c_str()));
        return kSourceMissing;
    }
    // Writing the PDF over its own source would destroy the source.
    if (out.empty() || sys::IsFolder(out) || SamePath(src, out)) {
        ShowError(ctx, LoadString(IDS_OUTPUT_PATH_WRONG));
        return kOutputPathWrong;
    }
    const std::optional<std::string> extension = LowerExtension(src);
    if (!extension) return kNoExtension;
    const std::string& ext = *extension;

    std::int32_t result;
    auto is = [&](std::initializer_list<const char*> list) {
        for (const char* e : list)
            if (ext == e) return true;
        return false;
    };
    if (IsHtmlExtension(ext)) result = ConvertHtmlFile(ctx, src, out);
    else if (is({"chm"})) result = ConvertChm(ctx, src, out);
    else if (IsWordExtension(ext)) result = ConvertWord(ctx, src, out);
    else if (IsExcelExtension(ext)) result = ConvertExcel(ctx, src, out);
    else if (IsPowerPointExtension(ext)) result = ConvertPowerPoint(ctx, src, out);
    else if (is({"jpg", "jpeg", "tif", "tiff", "gif", "emf", "bmp", "png"})) result = ConvertPicture(ctx, src, out);
    else return kUnsupportedExtension;

    if (ctx.openAfterFlag && (!ctx.MakeOne || ctx.lastFile)) {
        // The resolved path: the caller's relative text would be taken from
        // the opener's current folder, which is not where the file went.
        if (sys::ShellOpen(out) <= 32) result = kOpenAfterFailed;
    }
    return result;
}

}  // namespace vellumate

// Compiled help files: unpacked by "hh -decompile" into a temporary folder,
// contents read, every topic loaded by the add-on in contents order, the
// contents tree turned into outlines. The temporary folder is deleted on
// every path out of here.

#include <system_error>
#include <thread>

#include "convert_chm_contents.h"
#include "convert_chm_topics.h"
#include "convert_chm_unpack.h"
#include "converters.h"
#include "com_checks.h"
#include "frame.h"
#include "paths.h"
#include "strings.h"
#include "system.h"

namespace vellumate {
namespace {

// Deletes the unpacked folder when the conversion leaves, whichever way.
// Once every topic is loaded nothing reads the folder again: it is then
// deleted on a thread of its own while the pages are drawn (tens of
// thousands of files take seconds), and the conversion leaves only when
// that is done.
class TemporaryFolderGuard {
public:
    TemporaryFolderGuard(ConversionContext& ctx, std::string folder) : ctx_(ctx), folder_(std::move(folder)) {}
    ~TemporaryFolderGuard() {
        if (deleting_.joinable()) {
            deleting_.join();
            return;
        }
        if (ctx_.temporaryFolder == folder_) ctx_.temporaryFolder.clear();
        if (!folder_.empty()) sys::DeleteTree(folder_);
    }
    TemporaryFolderGuard(const TemporaryFolderGuard&) = delete;
    TemporaryFolderGuard& operator=(const TemporaryFolderGuard&) = delete;

    void DeleteNow() {
        if (folder_.empty() || deleting_.joinable()) return;
        if (ctx_.temporaryFolder == folder_) ctx_.temporaryFolder.clear();
        try {
            deleting_ = std::thread([folder = folder_] { sys::DeleteTree(folder); });
        } catch (const std::system_error&) {
            // No thread: the destructor deletes it.
        }
    }

private:
    ConversionContext& ctx_;
    std::string folder_;
    std::thread deleting_;
};

}  // namespace

std::int32_t ConvertChm(ConversionContext& ctx, const std::string& source, const std::string& output) {
    if (std::int32_t r = BeginFileFrame(ctx, output)) return r;
    if (CancelledAndDiscarded(ctx, true, true)) return kCancelled;

    const std::string folder = MakeChmTemporaryFolder();
    if (folder.empty()) {
        ShowError(ctx, LoadString(IDS_HH_NOT_STARTED));
        return kChmViewerFailed;
    }
    TemporaryFolderGuard guard(ctx, folder);
    ctx.temporaryFolder = folder;
    ctx.Step(1);

    // The unpacker's own failure (not a help file, unreadable) ends the
    // conversion as one that cannot be started: going on would give an
    // empty document reported as a success.
    if (UnpackChm(ProgramPathOf(ctx), folder, source) != ChmUnpackStatus::kOk) {
        ShowError(ctx, LoadString(IDS_HH_NOT_STARTED));
        return kChmViewerFailed;
    }
    ctx.Step(1);

    ChmContents contents = ReadChmContents(folder, ctx.settings.ExcludeOrphanPages);
    if (contents.status == ChmContentsStatus::kUnreadable) {
        ShowError(ctx, FormatString(LoadString(IDS_SOURCE_NOT_OPENED).c_str(), contents.contentsFile.c_str()));
        ShowError(ctx, LoadString(IDS_HHC_NOT_PARSED));
        return kChmContentsFailed;
    }
    bool anyPage = false;
    for (const ChmTopic& t : contents.topics) anyPage = anyPage || (!t.web && !t.local.empty());
    if (!anyPage) {
        // Nothing to convert: no contents entry names a topic of the file.
        ShowError(ctx, LoadString(IDS_HHC_NOT_PARSED));
        return kChmContentsFailed;
    }

    ctx.Step(1);
    if (CancelledAndDiscarded(ctx, true, true)) return kCancelled;

    if (!ctx.MakeOne) {
        ctx.outlines.clear();
    } else {
        AddFileEntries(ctx, source);
    }

    std::int32_t total = 0;
    if (std::int32_t r = LoadChmTopics(ctx, contents.topics, folder, &total)) return r;
    guard.DeleteNow();

    ctx.Step(1);
    if (ctx.MakeOne) ctx.mergedPageCount += total;
    if (std::int32_t r = GeneratePages(ctx, 0)) return r;
    ctx.Step(1);
    ctx.SetStatus("");
    return kOk;
}

}  // namespace vellumate

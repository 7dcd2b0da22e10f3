#include "convert_chm_topics.h"

#include <algorithm>
#include <unordered_map>
#include <unordered_set>

#include "com_checks.h"
#include "frame.h"
#include "links.h"
#include "paths.h"
#include "strings.h"

namespace vellumate {

namespace {
constexpr std::size_t kLookahead = 8;  // files announced ahead of the one loading
}  // namespace

std::int32_t LoadChmTopics(ConversionContext& ctx, std::vector<ChmTopic>& topics, const std::string& folder,
                           std::int32_t* totalPages) {
    *totalPages = 0;
    std::unordered_map<std::string, std::int32_t> loaded;  // file -> first add-on page
    const auto count = static_cast<int>(topics.size());
    // The files in the order they will be loaded: while one loads, the add-on
    // may lay out the next one.
    com::ComPtr<tessaline::ITessalineLookahead> lookahead;
    std::vector<std::string> order;
    if (ctx.addon && ctx.addon.As(&lookahead) == com::S_OK) {
        std::unordered_set<std::string> seen;
        for (const ChmTopic& topic : topics) {
            if (topic.web || topic.local.empty() || topic.page >= 0) continue;
            std::string file = WithoutAnchor(topic.local);
            if (seen.insert(file).second) order.push_back(std::move(file));
        }
    }
    std::size_t next = 0;       // index into order of the next file to load
    std::size_t announced = 0;  // files of order announced so far
    for (int i = 0; i < count; ++i) {
        if (CancelledAndDiscarded(ctx, true, true)) return kCancelled;
        ctx.Count(Work::Topics, i + 1, count);
        ChmTopic& topic = topics[i];
        if (!topic.web && !topic.local.empty() && topic.page < 0) {
            const std::string file = WithoutAnchor(topic.local);
            if (auto it = loaded.find(file); it != loaded.end()) {
                topic.page = it->second;
            } else {
                const std::string path = folder + "/" + file;
                if (ctx.interactive)
                    ctx.SetStatus(FormatString(LoadString(IDS_IMPORTING_FILE).c_str(), i + 1, count) +
                                  FileNamePart(path));
                std::int32_t before = 0, after = 0;
                if (next < order.size() && order[next] == file) ++next;
                // Four ahead: topics differ much in size, and a layout process
                // that has finished a small one must find the next waiting.
                for (announced = std::max(announced, next);
                     lookahead && announced < order.size() && announced < next + kLookahead; ++announced) {
                    com::Bstr upcoming(folder + "/" + order[announced]);
                    lookahead->AnnounceHTMLFile(upcoming.Get());
                }
                try {
                    AddonCheck(ctx.addon->get_TotalPageCount(&before));
                    com::Bstr bpath(path);
                    AddonCheck(ctx.addon->LoadHTMLFile(bpath.Get()));
                    AddonCheck(ctx.addon->get_TotalPageCount(&after));
                } catch (...) {
                    after = before;
                }
                // A load that adds no page has failed: queueing a page for it
                // would shift every later page by one.
                if (after <= before) {
                    ShowError(ctx, LoadString(IDS_CHM_TOPIC_LOAD_FAILED));
                    return kChmTopicFailed;
                }
                PageSource src;
                src.pageCount = after - before;
                src.addonSource = true;
                QueuePageSource(ctx, src);
                *totalPages += src.pageCount;
                topic.page = before;
                loaded.emplace(file, before);
                PageTableEntry entry;
                entry.displayName = DisplayName(file);
                entry.fileName = FileNamePart(file);
                entry.firstPage = before;
                entry.addonIndex = true;
                ctx.pageTable.push_back(entry);
            }
        }
        if (!ctx.MakeOne && !topic.title.empty()) {
            OutlineEntry outline;
            outline.title = topic.title;
            outline.level = topic.level;
            outline.page = topic.page >= 0 ? AddonToPdfPage(ctx.queue, topic.page) : -1;
            if (topic.web) outline.url = topic.local;
            ctx.outlines.push_back(outline);
        }
    }
    return kOk;
}

}  // namespace vellumate

#include "addon/common/document_loader.h"

namespace tessaline {
namespace {

class UnavailableLoader final : public DocumentLoader {
public:
    explicit UnavailableLoader(EventLog& log) : log_(log, "TessalineImpl") {}

    LoadResult LoadFile(const std::string&, const std::string&, const LoadSettings&) override { return Fail(); }
    LoadResult LoadString(const std::string&, const std::string&, const LoadSettings&) override { return Fail(); }

private:
    LoadResult Fail() {
        log_.Error("No HTML engine in this build");
        log_.Error("Download failed");
        return {};
    }
    LogSource log_;
};

}  // namespace

std::unique_ptr<DocumentLoader> CreateUnavailableLoader(EventLog& log) {
    return std::make_unique<UnavailableLoader>(log);
}

}  // namespace tessaline

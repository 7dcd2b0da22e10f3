#include <cmath>

#include "addon/common/page_converter.h"

namespace tessaline {
namespace {

class BasicPageConverter final : public PageConverter {
public:
    int CountPages(PageHost& host, const PageImage& image, const PageSettings& s) override {
        double printable = host.Pdf().PageHeight() - s.marginTop - s.marginBottom;
        double slice = std::trunc(printable * s.renderScale);
        if (image.heightPx <= 0 || !(slice >= 1)) return image.heightPx > 0 ? 1 : 0;
        double pages = std::ceil(image.heightPx / slice);
        return pages > 100000 ? 100000 : static_cast<int>(pages);
    }
    std::vector<std::vector<LinkRecord>> MapLinks(PageHost& host, const PageImage& image,
                                                  const PageSettings& s) override {
        return std::vector<std::vector<LinkRecord>>(static_cast<std::size_t>(CountPages(host, image, s)));
    }
    bool AdjustPageWidth(PageHost&, const PageImage&, const PageSettings&) override { return true; }
    bool Convert(PageHost& host, const PageImage&, int, int, const PageSettings&) override {
        host.Log().WriteError("CEmf2PDFConverter", "Page drawing is not available in this build");
        return false;
    }
};

}  // namespace

std::unique_ptr<PageConverter> CreateBasicPageConverter() { return std::make_unique<BasicPageConverter>(); }

}  // namespace tessaline

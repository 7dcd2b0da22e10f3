// LibreOffice's own PDF export of each file in one running office (the warm
// export the Office benchmark compares with): seconds per file and bytes.
//   office_export_bench OUTDIR FILE...
#include <com/sun/star/beans/PropertyValue.hpp>
#include <com/sun/star/frame/XStorable.hpp>
#include <com/sun/star/lang/XServiceInfo.hpp>

#include <chrono>
#include <cstdio>
#include <filesystem>

#include "office_document.h"
#include "office_session.h"

using namespace com::sun::star;

namespace {

const char* FilterOf(const uno::Reference<lang::XComponent>& doc) {
    uno::Reference<lang::XServiceInfo> info(doc, uno::UNO_QUERY_THROW);
    if (info->supportsService("com.sun.star.sheet.SpreadsheetDocument")) return "calc_pdf_Export";
    if (info->supportsService("com.sun.star.presentation.PresentationDocument")) return "impress_pdf_Export";
    return "writer_pdf_Export";
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: office_export_bench OUTDIR FILE...\n");
        return 2;
    }
    struct EndRun {
        ~EndRun() { vmoffice::OfficeSession::EndRun(); }
    } endRun;
    try {
        auto session = vmoffice::OfficeSession::Acquire();
        for (int i = 2; i < argc; ++i) {
            const std::string src = std::filesystem::absolute(argv[i]).string();
            const std::string out =
                (std::filesystem::path(argv[1]) / std::filesystem::path(src).filename()).string() + ".pdf";
            const auto t0 = std::chrono::steady_clock::now();
            uno::Sequence<beans::PropertyValue> load(1);
            load.getArray()[0].Name = "Hidden";
            load.getArray()[0].Value <<= true;
            uno::Reference<lang::XComponent> doc = session->Desktop()->loadComponentFromURL(
                rtl::OUString::createFromAscii(("file://" + src).c_str()), "_blank", 0, load);
            uno::Sequence<beans::PropertyValue> store(1);
            store.getArray()[0].Name = "FilterName";
            store.getArray()[0].Value <<= rtl::OUString::createFromAscii(FilterOf(doc));
            uno::Reference<frame::XStorable>(doc, uno::UNO_QUERY_THROW)
                ->storeToURL(rtl::OUString::createFromAscii(("file://" + out).c_str()), store);
            doc->dispose();
            const double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
            std::printf("%s\t%.3f\t%ju\n", argv[i], s, static_cast<std::uintmax_t>(std::filesystem::file_size(out)));
        }
    } catch (const uno::Exception& e) {
        std::fprintf(stderr, "office: %s\n", rtl::OUStringToOString(e.Message, RTL_TEXTENCODING_UTF8).getStr());
        return 1;
    } catch (const vmoffice::OfficeError& e) {
        std::fprintf(stderr, "office: %s\n", e.text.c_str());
        return 1;
    }
    return 0;
}

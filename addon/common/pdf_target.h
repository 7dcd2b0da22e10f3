// The client's PDF document as the add-on sees it: one held reference, to the
// main document interface when the object has it, else to the older one.
// Every call goes to whichever is held; page indexes here are 0-based and are
// translated for the older interface, which counts from 1.
#pragma once

#include <cstdint>

#include "corvanth/pdfdocument.h"
#include "platform/com.h"

namespace tessaline {

class PdfTarget {
public:
    // Releases what is held, then queries obj for the main interface, else the
    // older one. False (and nothing held) when obj has neither or is null.
    bool Connect(com::IUnknown* obj);
    void Disconnect();
    bool IsConnected() const { return primary_ || secondary_; }
    corvanth::IPdfDocument* Primary() const { return primary_.Get(); }
    corvanth::IPdfDocumentCompat* Secondary() const { return secondary_.Get(); }

    // Values of the current page; 0 when nothing is held or the call fails.
    std::int32_t Resolution() const;
    double PageWidth() const;
    double PageHeight() const;
    std::int32_t PageCount() const;
    std::int32_t CurrentPage() const;  // 0-based; -1 when nothing is held or the call fails

    // E_NOINTERFACE when nothing is held; otherwise the document's result.
    com::HRESULT SetPageWidth(double w);
    // Adds a page and gives it the current page's rotation, width and height.
    com::HRESULT SafeNewPage();
    com::HRESULT SelectPage(std::int32_t index);  // 0-based
    com::HRESULT DrawEmf(const std::uint8_t* data, std::uint32_t size, double x, double y, double scaleX,
                         double scaleY, std::int32_t logPixels);
    com::HRESULT DrawEmfFile(const char* path, double x, double y, double scaleX, double scaleY);
    com::HRESULT AddUrlLink(double left, double top, double right, double bottom, const char* url);
    com::HRESULT AddDestination(std::int32_t page, double top, std::int32_t* dest);  // 0-based page
    com::HRESULT AddDestinationLink(double left, double top, double right, double bottom, std::int32_t dest);

private:
    com::ComPtr<corvanth::IPdfDocument> primary_;
    com::ComPtr<corvanth::IPdfDocumentCompat> secondary_;
};

}  // namespace tessaline

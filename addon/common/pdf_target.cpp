#include "addon/common/pdf_target.h"

namespace tessaline {

using com::E_NOINTERFACE;
using com::HRESULT;

bool PdfTarget::Connect(com::IUnknown* obj) {
    Disconnect();
    if (!obj) return false;
    void* p = nullptr;
    if (com::SUCCEEDED(obj->QueryInterface(corvanth::IID_IPdfDocument, &p)) && p) {
        primary_ = com::ComPtr<corvanth::IPdfDocument>::Attach(static_cast<corvanth::IPdfDocument*>(p));
        return true;
    }
    p = nullptr;
    if (com::SUCCEEDED(obj->QueryInterface(corvanth::IID_IPdfDocumentCompat, &p)) && p) {
        secondary_ =
            com::ComPtr<corvanth::IPdfDocumentCompat>::Attach(static_cast<corvanth::IPdfDocumentCompat*>(p));
        return true;
    }
    return false;
}

void PdfTarget::Disconnect() {
    primary_.Reset();
    secondary_.Reset();
}

std::int32_t PdfTarget::Resolution() const {
    std::int32_t v = 0;
    HRESULT hr = primary_ ? primary_->get_Resolution(&v) : secondary_ ? secondary_->get_Resolution(&v) : E_NOINTERFACE;
    return com::SUCCEEDED(hr) ? v : 0;
}

double PdfTarget::PageWidth() const {
    double v = 0;
    HRESULT hr = primary_ ? primary_->get_PageWidth(&v) : secondary_ ? secondary_->get_PageWidth(&v) : E_NOINTERFACE;
    return com::SUCCEEDED(hr) ? v : 0;
}

double PdfTarget::PageHeight() const {
    double v = 0;
    HRESULT hr =
        primary_ ? primary_->get_PageHeight(&v) : secondary_ ? secondary_->get_PageHeight(&v) : E_NOINTERFACE;
    return com::SUCCEEDED(hr) ? v : 0;
}

std::int32_t PdfTarget::PageCount() const {
    std::int32_t v = 0;
    HRESULT hr = primary_ ? primary_->get_PageCount(&v) : secondary_ ? secondary_->get_PageCount(&v) : E_NOINTERFACE;
    return com::SUCCEEDED(hr) ? v : 0;
}

std::int32_t PdfTarget::CurrentPage() const {
    std::int32_t v = 0;
    if (primary_) return com::SUCCEEDED(primary_->get_CurrentPage(&v)) ? v : -1;
    if (secondary_) return com::SUCCEEDED(secondary_->get_CurrentPage(&v)) ? v - 1 : -1;
    return -1;
}

HRESULT PdfTarget::SetPageWidth(double w) {
    if (primary_) return primary_->put_PageWidth(w);
    if (secondary_) return secondary_->put_PageWidth(w);
    return E_NOINTERFACE;
}

namespace {
// The same steps on either interface: both name the calls alike.
template <class Doc>
HRESULT NewPageKeeping(Doc* doc) {
    std::int32_t rotation = 0;
    double width = 0, height = 0;
    HRESULT hr = doc->get_PageRotation(&rotation);
    if (com::SUCCEEDED(hr)) hr = doc->get_PageWidth(&width);
    if (com::SUCCEEDED(hr)) hr = doc->get_PageHeight(&height);
    if (com::FAILED(hr)) return hr;
    if (com::FAILED(hr = doc->NewPage())) return hr;
    if (com::FAILED(hr = doc->put_PageRotation(rotation))) return hr;
    if (com::FAILED(hr = doc->put_PageWidth(width))) return hr;
    return doc->put_PageHeight(height);
}
}  // namespace

HRESULT PdfTarget::SafeNewPage() {
    if (primary_) return NewPageKeeping(primary_.Get());
    if (secondary_) return NewPageKeeping(secondary_.Get());
    return E_NOINTERFACE;
}

HRESULT PdfTarget::SelectPage(std::int32_t index) {
    if (primary_) return primary_->put_CurrentPage(index);
    if (secondary_) return secondary_->put_CurrentPage(index + 1);
    return E_NOINTERFACE;
}

HRESULT PdfTarget::DrawEmf(const std::uint8_t* data, std::uint32_t size, double x, double y, double scaleX,
                           double scaleY, std::int32_t logPixels) {
    if (primary_) return primary_->DrawEmf(data, size, x, y, scaleX, scaleY, logPixels);
    if (secondary_) return secondary_->DrawEmf(data, size, x, y, scaleX, scaleY);
    return E_NOINTERFACE;
}

HRESULT PdfTarget::DrawEmfFile(const char* path, double x, double y, double scaleX, double scaleY) {
    com::Bstr p(path ? path : "");
    if (primary_) return primary_->DrawEmfFile(p.Get(), x, y, scaleX, scaleY);
    if (secondary_) return secondary_->DrawEmfFile(p.Get(), x, y, scaleX, scaleY);
    return E_NOINTERFACE;
}

HRESULT PdfTarget::AddUrlLink(double left, double top, double right, double bottom, const char* url) {
    com::Bstr u(url ? url : "");
    if (primary_) return primary_->AddUrlLink(left, top, right, bottom, u.Get());
    if (secondary_) return secondary_->AddUrlLink(left, top, right, bottom, u.Get());
    return E_NOINTERFACE;
}

HRESULT PdfTarget::AddDestination(std::int32_t page, double top, std::int32_t* dest) {
    if (primary_) return primary_->AddDestination(page, top, dest);
    if (secondary_) return secondary_->AddDestination(page + 1, top, dest);
    return E_NOINTERFACE;
}

HRESULT PdfTarget::AddDestinationLink(double left, double top, double right, double bottom, std::int32_t dest) {
    if (primary_) return primary_->AddDestinationLink(left, top, right, bottom, dest);
    if (secondary_) return secondary_->AddDestinationLink(left, top, right, bottom, dest);
    return E_NOINTERFACE;
}

}  // namespace tessaline

// The common body of the two automation classes: reference counting with
// aggregation (an inner, non-delegating IUnknown; the interfaces delegate to
// the controlling unknown), IObjectWithSite, IDispatch over a member table,
// and the one TessalineImpl each instance owns.
#pragma once

#include <atomic>
#include <cstdint>
#include <span>
#include <string>
#include <utility>

#include "addon/core/tessaline_impl.h"
#include "platform/com.h"
#include "platform/com_dispatch.h"
#include "platform/com_members.h"
#include "platform/com_server.h"
#include "platform/com_trap.h"
#include "tessaline/itessaline.h"

namespace tessaline {

template <class Itf>
class AddonObject : public com::DispatchImpl<Itf>, public com::IObjectWithSite, public ITessalineLookahead {
public:
    // outer: the controlling unknown when the object is aggregated, else null.
    explicit AddonObject(com::IUnknown* outer) : inner_(this), outer_(outer ? outer : &inner_) {}
    virtual ~AddonObject() = default;
    AddonObject(const AddonObject&) = delete;
    AddonObject& operator=(const AddonObject&) = delete;

    // The non-delegating unknown: what the creator holds (and, when
    // aggregated, what the outer object keeps). Starts with no reference.
    com::IUnknown* Inner() { return &inner_; }
    TessalineImpl& Impl() { return impl_; }

    com::HRESULT QueryInterface(com::REFIID riid, void** ppv) override { return outer_->QueryInterface(riid, ppv); }
    std::uint32_t AddRef() override { return outer_->AddRef(); }
    std::uint32_t Release() override { return outer_->Release(); }

    com::HRESULT SetSite(com::IUnknown* site) override {
        return Trap([&] { return SetSiteBody(site); });
    }
    com::HRESULT AnnounceHTMLFile(com::BSTR name) override {
        return Trap([&] {
            if (!name) return com::E_INVALIDARG;
            impl_.AnnounceHTMLFile(com::Utf8FromBstr(name));
            return com::S_OK;
        });
    }

    com::HRESULT GetSite(com::REFIID riid, void** ppv) override {
        if (!ppv) return com::E_POINTER;
        *ppv = nullptr;
        if (!site_) return com::E_FAIL;
        return site_->QueryInterface(riid, ppv);
    }

protected:
    com::HRESULT SetSiteBody(com::IUnknown* site) {
        site_ = com::ComPtr<com::IUnknown>(site);
        // A site that can pump its thread's messages is called while loads wait.
        com::ComPtr<ITessalineWaitSite> wait;
        if (site_) site_->QueryInterface(IID_ITessalineWaitSite, reinterpret_cast<void**>(wait.ReleaseAndGetAddressOf()));
        if (wait) impl_.SetWaitHook([wait] { return wait->KeepWaiting() == com::S_OK; });
        else impl_.SetWaitHook({});
        return com::S_OK;
    }
    virtual std::span<const com::members::Member> Members() const = 0;
    com::HRESULT InvokeMember(com::DISPID id, std::uint16_t flags, const com::DispArgs& args,
                              com::VARIANT* result) override {
        return com::members::InvokeMember(Members(), static_cast<Itf*>(this), id, flags, args, result, &lastError_);
    }

    // Every exported method runs its body here: an exception of the engine
    // becomes a result code and never crosses the interface; its text goes
    // to callers by name through EXCEPINFO.
    template <class F>
    com::HRESULT Trap(F&& body) noexcept {
        return com::Trap(lastError_, std::forward<F>(body));
    }

    // First member: the module counts the object until everything else of it is gone.
    struct ModuleCount {
        ModuleCount() { ++com::server::g_objectCount; }
        ~ModuleCount() { --com::server::g_objectCount; }
    } moduleCount_;
    TessalineImpl impl_;
    std::string lastError_;  // of the last trapped call; empty after one that returned

private:
    class InnerUnknown final : public com::IUnknown {
    public:
        explicit InnerUnknown(AddonObject* owner) : owner_(owner) {}
        com::HRESULT QueryInterface(com::REFIID riid, void** ppv) override {
            if (!ppv) return com::E_POINTER;
            *ppv = nullptr;
            if (riid == com::IID_IUnknown) {
                *ppv = static_cast<com::IUnknown*>(this);
                AddRef();
                return com::S_OK;
            }
            if (riid == com::iid_of<Itf> || riid == com::IID_IDispatch)
                *ppv = static_cast<Itf*>(owner_);
            else if (riid == com::IID_IObjectWithSite)
                *ppv = static_cast<com::IObjectWithSite*>(owner_);
            else if (riid == IID_ITessalineLookahead)
                *ppv = static_cast<ITessalineLookahead*>(owner_);
            else
                return com::E_NOINTERFACE;
            static_cast<Itf*>(owner_)->AddRef();
            return com::S_OK;
        }
        std::uint32_t AddRef() override { return ++refs_; }
        std::uint32_t Release() override {
            std::uint32_t left = --refs_;
            if (left == 0) delete owner_;
            return left;
        }

    private:
        AddonObject* owner_;
        std::atomic<std::uint32_t> refs_{0};
    };

    InnerUnknown inner_;
    com::IUnknown* outer_;
    com::ComPtr<com::IUnknown> site_;
};

// Creates an instance for a class factory: an aggregating caller must ask for
// IUnknown (CLASS_E_NOAGGREGATION otherwise).
com::HRESULT CreateTessaline(com::IUnknown* outer, com::REFIID riid, void** ppv);
com::HRESULT CreateTessaline2(com::IUnknown* outer, com::REFIID riid, void** ppv);

// The member tables, in slot order (for the type library text).
std::span<const com::members::Member> TessalineMembers();
std::span<const com::members::Member> Tessaline2Members();

}  // namespace tessaline

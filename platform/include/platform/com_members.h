// The members of a dual interface as one table: name, dispatch identifier,
// kind and the parameter list the type library shows, with one call thunk
// made from the interface's member function. DispatchTable answers names and
// reads arguments; InvokeMember picks the entry and calls it. Every in-process
// server describes its interfaces this way: no server writes its own switch.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <tuple>
#include <utility>

#include "platform/com.h"
#include "platform/com_dispatch.h"

namespace com::members {

using com::HRESULT;
using com::VARIANT;

enum class Kind : std::uint16_t {
    Method = com::DISPATCH_METHOD,
    Get = com::DISPATCH_PROPERTYGET,
    Put = com::DISPATCH_PROPERTYPUT,
};

using Thunk = HRESULT (*)(void* self, const com::DispArgs& args, VARIANT* result);

struct Member {
    const char* name;
    com::DISPID id;
    Kind kind;
    const char* signature;  // parameter list as the type library shows it
    Thunk call;
    bool leavesResult = false;  // a getter that writes nothing
};

namespace detail {

template <class T>
struct Slot;  // one parameter: read from the arguments, handed to the member

template <>
struct Slot<std::int32_t> {
    std::int32_t v = 0;
    HRESULT Fill(const com::DispArgs& a, std::uint32_t i) { return a.Int(i, &v); }
    std::int32_t Arg() { return v; }
    static constexpr bool kOut = false;
};
template <>
struct Slot<double> {
    double v = 0;
    HRESULT Fill(const com::DispArgs& a, std::uint32_t i) { return a.Double(i, &v); }
    double Arg() { return v; }
    static constexpr bool kOut = false;
};
template <>
struct Slot<com::VARIANT_BOOL> {
    bool v = false;
    HRESULT Fill(const com::DispArgs& a, std::uint32_t i) { return a.Bool(i, &v); }
    com::VARIANT_BOOL Arg() { return v ? com::VARIANT_TRUE : com::VARIANT_FALSE; }
    static constexpr bool kOut = false;
};
template <>
struct Slot<com::BSTR> {
    com::Bstr v;
    HRESULT Fill(const com::DispArgs& a, std::uint32_t i) {
        std::string s;
        HRESULT hr = a.String(i, &s);
        if (com::SUCCEEDED(hr)) v = com::Bstr(s);
        return hr;
    }
    com::BSTR Arg() { return v.Get(); }
    static constexpr bool kOut = false;
};
template <>
struct Slot<com::IUnknown*> {
    com::IUnknown* v = nullptr;  // borrowed from the caller's argument
    HRESULT Fill(const com::DispArgs& a, std::uint32_t i) { return a.Unknown(i, &v); }
    com::IUnknown* Arg() { return v; }
    static constexpr bool kOut = false;
};
template <>
struct Slot<std::int32_t*> {
    std::int32_t v = 0;
    HRESULT Fill(const com::DispArgs&, std::uint32_t) { return com::S_OK; }
    std::int32_t* Arg() { return &v; }
    void Store(VARIANT* r) { com::SetResult(r, v); }
    static constexpr bool kOut = true;
};
template <>
struct Slot<double*> {
    double v = 0;
    HRESULT Fill(const com::DispArgs&, std::uint32_t) { return com::S_OK; }
    double* Arg() { return &v; }
    void Store(VARIANT* r) { com::SetResult(r, v); }
    static constexpr bool kOut = true;
};
template <>
struct Slot<com::VARIANT_BOOL*> {
    com::VARIANT_BOOL v = com::VARIANT_FALSE;
    HRESULT Fill(const com::DispArgs&, std::uint32_t) { return com::S_OK; }
    com::VARIANT_BOOL* Arg() { return &v; }
    void Store(VARIANT* r) { com::SetResultBool(r, v != 0); }
    static constexpr bool kOut = true;
};
template <>
struct Slot<com::BSTR*> {
    com::Bstr v;
    HRESULT Fill(const com::DispArgs&, std::uint32_t) { return com::S_OK; }
    com::BSTR* Arg() { return v.Out(); }
    void Store(VARIANT* r) {
        if (!r) return;
        com::VariantClear(r);
        r->vt = com::VT_BSTR;
        r->bstrVal = v.Detach();
    }
    static constexpr bool kOut = true;
};

template <class F>
struct Traits;

template <class C, class... P>
struct Traits<HRESULT (C::*)(P...)> {
    using Class = C;
    static constexpr std::size_t N = sizeof...(P);
    static constexpr bool kHasOut = [] {
        if constexpr (N == 0)
            return false;
        else
            return Slot<std::tuple_element_t<N - 1, std::tuple<P...>>>::kOut;
    }();
    static constexpr std::uint32_t kIn = static_cast<std::uint32_t>(N - (kHasOut ? 1 : 0));

    template <auto M, std::size_t... K>
    static HRESULT Call(C* self, const com::DispArgs& a, VARIANT* result, std::index_sequence<K...>) {
        std::tuple<Slot<P>...> slots;
        HRESULT hr = com::S_OK;
        ((hr = com::SUCCEEDED(hr) ? std::get<K>(slots).Fill(a, static_cast<std::uint32_t>(K)) : hr), ...);
        if (com::FAILED(hr)) return hr;
        hr = (self->*M)(std::get<K>(slots).Arg()...);
        if constexpr (kHasOut) {
            if (com::SUCCEEDED(hr) && result) std::get<N - 1>(slots).Store(result);
        }
        return hr;
    }
};

}  // namespace detail

template <auto M>
HRESULT ThunkFor(void* self, const com::DispArgs& a, VARIANT* result) {
    using T = detail::Traits<decltype(M)>;
    HRESULT hr = a.Expect(T::kIn);
    if (com::FAILED(hr)) return hr;
    return T::template Call<M>(static_cast<typename T::Class*>(self), a, result, std::make_index_sequence<T::N>{});
}

// The name table for the platform's DispatchTable.
com::DispatchTable MakeTable(std::span<const Member> members);

// Calls the member with this id that fits the flags: a put for
// DISPATCH_PROPERTYPUT, else a getter or method (script hosts call either
// way; an exact match is preferred). self is the interface pointer. Arguments
// that do not convert fail the call before the member runs. When the member
// fails and `lastError` (the object's trapped description, see
// platform/com_trap.h) is not empty, ComError carries it to the caller's
// EXCEPINFO; argument and member-lookup failures are answered plainly.
HRESULT InvokeMember(std::span<const Member> members, void* self, com::DISPID id, std::uint16_t flags,
                     const com::DispArgs& args, VARIANT* result, const std::string* lastError = nullptr);

}  // namespace com::members

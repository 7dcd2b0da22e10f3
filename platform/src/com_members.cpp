#include "platform/com_members.h"

namespace com::members {

com::DispatchTable MakeTable(std::span<const Member> members) {
    std::vector<com::DispMember> names;
    for (const Member& m : members) {
        bool seen = false;
        for (const auto& n : names) seen = seen || n.id == m.id;
        if (!seen) names.push_back({m.name, m.id});
    }
    return com::DispatchTable(std::move(names));
}

HRESULT InvokeMember(std::span<const Member> members, void* self, com::DISPID id, std::uint16_t flags,
                     const com::DispArgs& args, VARIANT* result, const std::string* lastError) {
    const Member* found = nullptr;
    bool put = flags & com::DISPATCH_PROPERTYPUT;
    for (const Member& m : members) {
        if (m.id != id) continue;
        bool fits = put ? m.kind == Kind::Put
                        : m.kind != Kind::Put && (flags & (com::DISPATCH_METHOD | com::DISPATCH_PROPERTYGET));
        if (fits && (!found || (flags & static_cast<std::uint16_t>(m.kind)))) found = &m;
    }
    if (!found) return com::DISP_E_MEMBERNOTFOUND;
    const HRESULT hr = found->call(self, args, found->leavesResult ? nullptr : result);
    // Codes of the dispatch layer itself (0x8002xxxx: bad arguments, unknown
    // members) never carry an object's description.
    if (com::FAILED(hr) && lastError && !lastError->empty() && (hr & 0xFFFF0000u) != 0x80020000u)
        throw com::ComError(hr, *lastError);
    return hr;
}

}  // namespace com::members

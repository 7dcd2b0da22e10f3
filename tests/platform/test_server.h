// The interface of the small server the component-runtime tests build.
#pragma once

#include "platform/com.h"

class ITestCalc : public com::IDispatch {
public:
    virtual com::HRESULT Add(std::int32_t a, std::int32_t b, std::int32_t* sum) = 0;
    virtual com::HRESULT Objects(std::int32_t* count) = 0;  // live objects in the server

protected:
    ~ITestCalc() = default;
};

constexpr com::IID IID_ITestCalc{0x6B0E51A2, 0x33C1, 0x4C1E, {0x9A, 0x51, 0x10, 0x22, 0x33, 0x44, 0x55, 0x66}};
constexpr com::CLSID CLSID_TestCalc{0x6B0E51A3, 0x33C1, 0x4C1E, {0x9A, 0x51, 0x10, 0x22, 0x33, 0x44, 0x55, 0x66}};
template <>
inline constexpr com::IID com::iid_of<ITestCalc> = IID_ITestCalc;

// DISPIDs of the dispatch interface.
constexpr com::DISPID DISPID_Add = 1;
constexpr com::DISPID DISPID_Name = 2;
constexpr com::DISPID DISPID_Fail = 3;
// Keeps something across objects (as a started helper would be) until the runtime ends.
constexpr com::DISPID DISPID_Keep = 4;

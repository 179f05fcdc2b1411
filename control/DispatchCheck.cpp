// The dispatch argument check. The members' shapes are read from the type
// information once: reading a member's description walks the inherited
// IDispatch members in the system's library and copies the description,
// which cost more than the rest of a short call.
#include "control/DispatchCheck.h"

#include <new>
#include <vector>

#include "base/Shared.h"

namespace
{
struct MemberShape
{
    DISPID id;
    std::vector<VARTYPE> inputs;   // the parameters a caller passes, the return value left out
};
using MemberShapes = std::vector<MemberShape>;

MemberShapes* g_pShapes = nullptr;   // published once, freed at unload

HRESULT ReadShapes(ITypeInfo* info, MemberShapes& shapes)
{
    TYPEATTR* attr = nullptr;
    RETURN_IF_FAILED(info->GetTypeAttr(&attr));
    WORD functions = attr->cFuncs;
    info->ReleaseTypeAttr(attr);
    for (UINT i = 0; i < functions; ++i)
    {
        CFuncDesc func(info);
        if (FAILED(info->GetFuncDesc(i, func.Put())))
            continue;
        MemberShape shape = {func->memid, {}};
        for (SHORT p = 0; p < func->cParams; ++p)
            if (!(func->lprgelemdescParam[p].paramdesc.wParamFlags & PARAMFLAG_FRETVAL))
                shape.inputs.push_back(func->lprgelemdescParam[p].tdesc.vt);
        shapes.push_back(std::move(shape));
    }
    return S_OK;
}

HRESULT Shapes(ITypeInfo* info, const MemberShapes*& shapes)
{
    shapes = static_cast<MemberShapes*>(
        InterlockedCompareExchangePointer(reinterpret_cast<void**>(&g_pShapes), nullptr, nullptr));
    if (shapes)
        return S_OK;
    auto read = new (std::nothrow) MemberShapes;
    if (!read)
        return E_OUTOFMEMORY;
    HRESULT hr = Guarded([&]() { return ReadShapes(info, *read); });
    if (FAILED(hr))
    {
        delete read;
        return hr;
    }
    // Two threads may race to read them: the loser drops its copy.
    if (InterlockedCompareExchangePointer(reinterpret_cast<void**>(&g_pShapes), read, nullptr) != nullptr)
        delete read;
    shapes = g_pShapes;
    return S_OK;
}
}

HRESULT CheckDispatchArguments(ITypeInfo* info, DISPID id, WORD flags, const DISPPARAMS* params, UINT* puArgErr)
{
    if (!params)
        return S_OK;
    if ((params->cArgs && !params->rgvarg) || params->cNamedArgs > params->cArgs ||
        (params->cNamedArgs && !params->rgdispidNamedArgs))
        return E_INVALIDARG;
    const MemberShapes* shapes = nullptr;
    RETURN_IF_FAILED(Shapes(info, shapes));
    for (const MemberShape& member : *shapes)
    {
        if (member.id != id)
            continue;
        const UINT inputs = static_cast<UINT>(member.inputs.size());
        HRESULT hr = S_OK;
        // Every member is a method, and every parameter is required.
        if (!(flags & DISPATCH_METHOD))
            hr = DISP_E_MEMBERNOTFOUND;
        else if (params->cArgs != inputs)
            hr = DISP_E_BADPARAMCOUNT;
        // Named arguments come first in rgvarg; the positional ones follow in reverse order.
        for (UINT i = 0; SUCCEEDED(hr) && i < params->cArgs; ++i)
        {
            LONG param = i < params->cNamedArgs ? params->rgdispidNamedArgs[i] : static_cast<LONG>(params->cArgs - 1 - i);
            if (param < 0 || param >= static_cast<LONG>(inputs))
            {
                hr = DISP_E_PARAMNOTFOUND;
            }
            else if (member.inputs[param] == VT_BSTR && V_VT(&params->rgvarg[i]) != VT_BSTR)
            {
                // A string is taken as it is; anything else must convert to one.
                CVariant probe;
                if (FAILED(VariantChangeType(&probe, &params->rgvarg[i], 0, VT_BSTR)))
                    hr = DISP_E_TYPEMISMATCH;
            }
            if (FAILED(hr) && puArgErr)
                *puArgErr = i;
        }
        return hr;
    }
    return S_OK;
}

void ReleaseDispatchShapes()
{
    delete static_cast<MemberShapes*>(
        InterlockedExchangePointer(reinterpret_cast<void**>(&g_pShapes), nullptr));
}

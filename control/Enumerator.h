// A snapshot enumerator for the connection-point interfaces: it copies the
// items when created, so the sink list may change while a caller enumerates.
// Used on the control's thread.
#pragma once

#include <windows.h>
#include <ocidl.h>
#include <new>
#include <vector>

#include "base/Module.h"

struct ConnectionPointItem
{
    using Type = IConnectionPoint*;
    static void Copy(Type& to, const Type& from) { to = from; if (to) to->AddRef(); }
    static void Destroy(Type& item) { if (item) item->Release(); }
};

struct ConnectDataItem
{
    using Type = CONNECTDATA;
    static void Copy(Type& to, const Type& from) { to = from; if (to.pUnk) to.pUnk->AddRef(); }
    static void Destroy(Type& item) { if (item.pUnk) item.pUnk->Release(); }
};

template <typename Interface, const IID* InterfaceId, typename Item>
class CEnumerator final : public Interface
{
public:
    using Type = typename Item::Type;

    // Copies the items; answers the new enumerator with one reference.
    static HRESULT Create(const std::vector<Type>& items, size_t position, Interface** ppEnum)
    {
        if (!ppEnum)
            return E_POINTER;
        *ppEnum = nullptr;
        CEnumerator* object = new (std::nothrow) CEnumerator();
        if (!object)
            return E_OUTOFMEMORY;
        try
        {
            object->m_items.reserve(items.size());
            for (const Type& item : items)
            {
                Type copy;
                Item::Copy(copy, item);
                object->m_items.push_back(copy);
            }
        }
        catch (...)
        {
            object->Release();
            return E_OUTOFMEMORY;
        }
        object->m_position = position;
        *ppEnum = object;
        return S_OK;
    }

    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override
    {
        if (!ppv)
            return E_POINTER;
        *ppv = nullptr;
        if (!IsEqualIID(riid, IID_IUnknown) && !IsEqualIID(riid, *InterfaceId))
            return E_NOINTERFACE;
        *ppv = static_cast<Interface*>(this);
        AddRef();
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return InterlockedIncrement(&m_lRef); }
    STDMETHODIMP_(ULONG) Release() override
    {
        ULONG n = InterlockedDecrement(&m_lRef);
        if (n == 0)
            delete this;
        return n;
    }

    STDMETHODIMP Next(ULONG count, Type* items, ULONG* fetched) override
    {
        if (!items || (count > 1 && !fetched))
            return E_POINTER;
        ULONG n = 0;
        while (n < count && m_position < m_items.size())
            Item::Copy(items[n++], m_items[m_position++]);
        if (fetched)
            *fetched = n;
        return n == count ? S_OK : S_FALSE;
    }
    STDMETHODIMP Skip(ULONG count) override
    {
        size_t left = m_items.size() - m_position;
        if (count > left)
        {
            m_position = m_items.size();
            return S_FALSE;
        }
        m_position += count;
        return S_OK;
    }
    STDMETHODIMP Reset() override
    {
        m_position = 0;
        return S_OK;
    }
    STDMETHODIMP Clone(Interface** ppEnum) override { return Create(m_items, m_position, ppEnum); }

private:
    CEnumerator() { Module::ObjectCreated(); }
    ~CEnumerator()
    {
        for (Type& item : m_items)
            Item::Destroy(item);
        Module::ObjectDestroyed();
    }

    LONG m_lRef = 1;
    std::vector<Type> m_items;
    size_t m_position = 0;
};

using CEnumConnectionPoints = CEnumerator<IEnumConnectionPoints, &IID_IEnumConnectionPoints, ConnectionPointItem>;
using CEnumConnections = CEnumerator<IEnumConnections, &IID_IEnumConnections, ConnectDataItem>;

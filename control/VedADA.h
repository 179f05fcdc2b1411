// CVedADA: the scripting control a page creates, and the road every page call
// takes: Invoke, then one of the 13 methods, which hands the work to the
// transfer, install or picker subsystem. Lives in the single-threaded
// apartment of the thread that created it (the browser's UI thread); every
// method, event and modal dialog runs there, so the fields are not locked.
#pragma once

#include <windows.h>
#include <ocidl.h>
#include <objsafe.h>
#include <string>
#include <vector>

#include "TavrineControl.h"
#include "base/Shared.h"
#include "control/ConnectionPoint.h"
#include "control/OleObject.h"
#include "control/PageSite.h"
#include "transfer/JobText.h"

class CVedADA final : public IConnectionPointContainer,
                public IVedADA,
                public IProvideClassInfo2,
                public IObjectSafety,
                public IObjectWithSite   // answered only by a build locked to its sites
{
public:
    // Creates an object, optionally inside an aggregate, and queries it for riid.
    static HRESULT Create(IUnknown* pOuter, REFIID riid, void** ppv);

    // IUnknown, forwarded to the controlling unknown
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
    STDMETHODIMP_(ULONG) AddRef() override;
    STDMETHODIMP_(ULONG) Release() override;

    // IConnectionPointContainer
    STDMETHODIMP EnumConnectionPoints(IEnumConnectionPoints** ppEnum) override;
    STDMETHODIMP FindConnectionPoint(REFIID riid, IConnectionPoint** ppCP) override;

    // IDispatch
    STDMETHODIMP GetTypeInfoCount(UINT* pctinfo) override;
    STDMETHODIMP GetTypeInfo(UINT iTInfo, LCID lcid, ITypeInfo** ppTInfo) override;
    STDMETHODIMP GetIDsOfNames(REFIID riid, LPOLESTR* rgszNames, UINT cNames, LCID lcid, DISPID* rgDispId) override;
    STDMETHODIMP Invoke(DISPID dispIdMember, REFIID riid, LCID lcid, WORD wFlags, DISPPARAMS* pDispParams,
                        VARIANT* pVarResult, EXCEPINFO* pExcepInfo, UINT* puArgErr) override;

    // IVedADA
    STDMETHODIMP CheckInstall() override;
    STDMETHODIMP AllowPopUp(BSTR strTemp) override;
    STDMETHODIMP ShowUpFileDlg() override;
    STDMETHODIMP SelectComplete(BSTR strPath, BSTR strSize, BSTR strMode) override;
    STDMETHODIMP UpLoadInit() override;
    STDMETHODIMP UpLoadInfo(BSTR strIdx) override;
    STDMETHODIMP UpLoadEnd(BSTR strUserID, BSTR strUserPW) override;
    STDMETHODIMP DownLoadInit() override;
    STDMETHODIMP DownLoadInfo(BSTR strIdx, BSTR strPath) override;
    STDMETHODIMP DownLoadEnd(BSTR strUserID, BSTR strUserPW, BSTR strMode) override;
    STDMETHODIMP LauncherExplorer(BSTR strUserID, BSTR strUserPW) override;
    STDMETHODIMP LauncherWebLink(BSTR strUserID, BSTR strUserPW, BSTR strWebLink, BSTR* pVal) override;
    STDMETHODIMP DownLoadSpInit() override;

    // IProvideClassInfo2
    STDMETHODIMP GetClassInfo(ITypeInfo** ppTI) override;
    STDMETHODIMP GetGUID(DWORD dwGuidKind, GUID* pGUID) override;

    // IObjectSafety
    STDMETHODIMP GetInterfaceSafetyOptions(REFIID riid, DWORD* pdwSupportedOptions,
                                           DWORD* pdwEnabledOptions) override;
    STDMETHODIMP SetInterfaceSafetyOptions(REFIID riid, DWORD dwOptionSetMask, DWORD dwEnabledOptions) override;

    // IObjectWithSite, answered only by a build locked to its sites
    STDMETHODIMP SetSite(IUnknown* pUnkSite) override;
    STDMETHODIMP GetSite(REFIID riid, void** ppvSite) override;

private:
    explicit CVedADA(IUnknown* pOuter);
    ~CVedADA();

    // Every IVedADA method runs its body through here: the object kept alive
    // for the call (a page handler run from a modal loop or an event may drop
    // the last reference) and the one failure policy, Guarded.
    template <typename Body>
    HRESULT RunMethod(Body&& body);

    void Fire_InstallCompleteEvent();
    void Fire_UpSelectComplete(BSTR strPath, BSTR strSize, BSTR strMode);
    // The object's identity, whose address goes with a record sent by message.
    CIfacePtr<IUnknown> Identity();

    // The non-delegating unknown that owns the object's identity and count.
    class CInnerUnknown : public IUnknown
    {
    public:
        STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
        STDMETHODIMP_(ULONG) AddRef() override;
        STDMETHODIMP_(ULONG) Release() override;
    };
    static CVedADA* FromInner(CInnerUnknown* inner);

    void ComputeDirectories();
    // Entry check of every IVedADA method: false when this build serves only
    // certain sites and the page's origin is not one of them, now.
    bool PageMayCall() noexcept;

    CInnerUnknown m_inner;
    IUnknown* m_pOuter;       // the aggregate's unknown, or &m_inner
    LONG m_lRef = 1;
    CConnectionPoint m_eventsPoint;
    DWORD m_dwSafetyOptions = 0;

    // The job texts the page builds item by item, and where they go.
    JobBatch m_downBatch;
    JobBatch m_upBatch;
    std::string m_strWebLink;
    std::string m_strInstallDir;
    std::string m_strTempDir;
    std::string m_strDownListFile;
    std::string m_strUpListFile;

    // The page's sites, asked for the page's address on every call of a locked
    // build; an object tag's client site arrives through m_oleObject.
    CPageSite m_pageSite;
    COleObject m_oleObject;
};

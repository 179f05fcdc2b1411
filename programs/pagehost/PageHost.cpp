// PageHost: runs a page's script against the control the way a browser does with
// an object tag and a script block, without the browser. One thread (an STA) runs
// the JScript engine, the control, its events and whatever dialogs it shows.
//
//   PageHost.exe [--progid <ProgID>] [--site-url <URL> [--site-via both|browser|document|none]
//                [--site-as object|script] [--site-top <URL>]]
//                <script> [<script>...] [-- <arguments for host.Arg>]
//
// --site-url gives the control a site that tells the page's URL the ways a
// browser does: its service provider hands out the browser object
// (SID_SWebBrowserApp, IWebBrowser2 with get_LocationURL and the way up to the
// top-level browser), and its container is the document (IHTMLDocument2 with
// get_URL, and its window's top). --site-via keeps only one of the two ways, or
// neither (a site that cannot tell its URL). --site-as object (the default) sites
// the control as a browser sites an object tag: IOleObject::SetClientSite, or
// IObjectWithSite::SetSite for a control without IOleObject; --site-as script
// only as a script engine sites what it creates (IObjectWithSite). --site-top
// puts the page in a frame of a top window with that address.
//
// Named items the script sees:
//   control  the control, created by ProgID (default "Halvex.Tavrine") before any script runs.
//   host     Echo(text, ...)   one line on stdout (UTF-8, or the console's own text)
//            Sleep(ms)         waits while pumping messages, like a browser's idle loop
//            Quit(code)        ends the process at once with that exit code
//            ArgCount, Arg(i)  the arguments after "--"
//            Env(name)         an environment variable, "" when unset
//            Host              "PageHost" (lets a page tell this host from a browser)
//            Navigate(url)     the site reports url from now on, as after a navigation
//            NavigateBrowser(url)   only the browser's address changes (a navigation
//                              under way while the old document still runs)
//            NavigateDocument(url)  only the document changes
//            NavigateTop(url)  the top window's address; "" puts the page on top
//            DropSite()        takes the site away from the control
//            SitedAs           "object" (IOleObject), "script" (IObjectWithSite) or ""
// Events: the control's event named E calls the script's global function control_E
// with the event's arguments, if the script defines one; other events are dropped,
// as in a browser page without a handler.
// Exit code: 0 when every script ran without an error, 1 after any script error
// (also one inside an event handler), 2 for bad usage or an unreadable script,
// 3 when the control or the script engine cannot be set up, or Quit's code.

#include <windows.h>
#include <ocidl.h>
#include <olectl.h>
#include <objsafe.h>
#include <activscp.h>
#include <exdisp.h>
#include <mshtml.h>
#include <servprov.h>
#include <shlguid.h>
#include <stdio.h>
#include <string>
#include <vector>

#include "base/Shared.h"
#include "BrowserSite.h"

namespace
{
const wchar_t kControlItem[] = L"control";
const wchar_t kHostItem[] = L"host";

// ---------------------------------------------------------------------------
// Output. A console gets UTF-16 through WriteConsoleW; a pipe or file gets
// UTF-8 bytes, so Korean text reads the same whatever the process code page.

void WriteLine(DWORD stdHandle, const std::wstring& text)
{
    HANDLE out = GetStdHandle(stdHandle);
    if (out == nullptr || out == INVALID_HANDLE_VALUE)
        return;
    std::wstring line = text + L"\n";
    DWORD mode = 0, written = 0;
    if (GetConsoleMode(out, &mode))
    {
        WriteConsoleW(out, line.c_str(), static_cast<DWORD>(line.size()), &written, nullptr);
        return;
    }
    int len = WideCharToMultiByte(CP_UTF8, 0, line.c_str(), static_cast<int>(line.size()), nullptr, 0,
                                  nullptr, nullptr);
    if (len <= 0)
        return;
    std::string bytes(static_cast<size_t>(len), '\0');
    WideCharToMultiByte(CP_UTF8, 0, line.c_str(), static_cast<int>(line.size()), &bytes[0], len, nullptr,
                        nullptr);
    WriteFile(out, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
}

void Report(const wchar_t* format, ...)
{
    wchar_t buffer[2048];
    va_list args;
    va_start(args, format);
    _vsnwprintf(buffer, ARRAYSIZE(buffer) - 1, format, args);
    va_end(args);
    buffer[ARRAYSIZE(buffer) - 1] = L'\0';
    WriteLine(STD_ERROR_HANDLE, buffer);
}

std::wstring HrText(HRESULT hr)
{
    wchar_t buffer[32];
    swprintf(buffer, ARRAYSIZE(buffer), L"0x%08lx", static_cast<unsigned long>(hr));
    return buffer;
}

// Text of a VARIANT as script would print it; "" for what has no text.
std::wstring VariantText(const VARIANT& value)
{
    if (V_VT(&value) == VT_BSTR)
        return V_BSTR(&value) ? std::wstring(V_BSTR(&value), SysStringLen(V_BSTR(&value))) : std::wstring();
    CVariant text;
    if (FAILED(VariantChangeType(&text, const_cast<VARIANT*>(&value), VARIANT_ALPHABOOL, VT_BSTR)) || !V_BSTR(&text))
        return std::wstring();
    return std::wstring(V_BSTR(&text), SysStringLen(V_BSTR(&text)));
}

// Reads a script file: UTF-8 (with or without a byte-order mark), or the ANSI
// code page when the bytes are not valid UTF-8.
bool ReadScript(const std::wstring& path, std::wstring& text)
{
    CScopedFile file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                 FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file)
        return false;
    LARGE_INTEGER size;
    if (!GetFileSizeEx(file.Get(), &size) || size.QuadPart > 16 * 1024 * 1024)
        return false;
    std::string bytes(static_cast<size_t>(size.QuadPart), '\0');
    DWORD read = 0;
    if (!bytes.empty() && (!ReadFile(file.Get(), &bytes[0], static_cast<DWORD>(bytes.size()), &read, nullptr) ||
                           read != bytes.size()))
        return false;
    size_t start = bytes.compare(0, 3, "\xEF\xBB\xBF") == 0 ? 3 : 0;
    text.clear();
    if (bytes.size() == start)
        return true;
    const char* data = bytes.data() + start;
    int count = static_cast<int>(bytes.size() - start);
    UINT codePage = CP_UTF8;
    int len = MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, data, count, nullptr, 0);
    if (len <= 0)
    {
        codePage = CP_ACP;
        len = MultiByteToWideChar(codePage, 0, data, count, nullptr, 0);
    }
    if (len <= 0)
        return false;
    text.assign(static_cast<size_t>(len), L'\0');
    MultiByteToWideChar(codePage, 0, data, count, &text[0], len);
    return true;
}

// Waits for ms milliseconds while dispatching this thread's messages, so that
// windows and timers of the control keep working as they would in a browser.
void PumpFor(DWORD ms)
{
    DWORD start = GetTickCount();
    for (;;)
    {
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE))
        {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
        DWORD elapsed = GetTickCount() - start;
        if (elapsed >= ms)
            return;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, ms - elapsed, QS_ALLINPUT);
    }
}

// ---------------------------------------------------------------------------
// State shared by the site, the host object and the event sink.

struct CPageState
{
    std::vector<std::wstring> scriptNames;   // by source context cookie
    std::vector<std::wstring> args;          // after "--"
    CIfacePtr<IActiveScript> script;
    CPageUrls site;                          // what the site reports of the page
    CIfacePtr<IOleObject> siteEmbedding;     // the control, while it holds the site as an object tag's
    CIfacePtr<IObjectWithSite> siteOwner;    // the control, while it holds the site as script's
    int errors = 0;
    bool trace = false;   // PAGEHOST_TRACE set: events are logged on stderr
};

// Takes the site back from the control, the way it was given.
void DropSite(CPageState& state)
{
    if (state.siteEmbedding)
        state.siteEmbedding->SetClientSite(nullptr);
    if (state.siteOwner)
        state.siteOwner->SetSite(nullptr);
    state.siteEmbedding.Reset();
    state.siteOwner.Reset();
}

// ---------------------------------------------------------------------------
// The "host" named item.

class CHostObject : public CRefObject<IDispatch>
{
public:
    explicit CHostObject(CPageState& state) : m_state(state) {}

    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override
    {
        if (!ppv)
            return E_POINTER;
        *ppv = nullptr;
        if (!IsEqualIID(riid, IID_IUnknown) && !IsEqualIID(riid, IID_IDispatch))
            return E_NOINTERFACE;
        *ppv = static_cast<IDispatch*>(this);
        AddRef();
        return S_OK;
    }
    STDMETHODIMP GetTypeInfoCount(UINT* pctinfo) override
    {
        if (!pctinfo)
            return E_POINTER;
        *pctinfo = 0;
        return S_OK;
    }
    STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo** ppTInfo) override
    {
        if (ppTInfo)
            *ppTInfo = nullptr;
        return DISP_E_BADINDEX;
    }
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) override
    {
        if (!names || !ids)
            return E_POINTER;
        HRESULT hr = S_OK;
        for (UINT i = 0; i < count; i++)
        {
            ids[i] = DISPID_UNKNOWN;
            if (i > 0)
            {
                hr = DISP_E_UNKNOWNNAME;   // no named arguments
                continue;
            }
            for (const Method& m : kMethods)
                if (lstrcmpiW(names[i], m.name) == 0)
                    ids[i] = m.id;
            if (ids[i] == DISPID_UNKNOWN)
                hr = DISP_E_UNKNOWNNAME;
        }
        return hr;
    }
    STDMETHODIMP Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* params, VARIANT* result,
                        EXCEPINFO*, UINT* argErr) override
    {
        try
        {
            if (!params)
                return E_INVALIDARG;
            if (result)
                VariantInit(result);
            if (params->cNamedArgs && !(flags & DISPATCH_PROPERTYPUT))
                return DISP_E_NONAMEDARGS;
            return Call(id, *params, result, argErr);
        }
        catch (...)
        {
            return E_OUTOFMEMORY;
        }
    }

private:
    enum : DISPID
    {
        ID_ECHO = 1, ID_SLEEP, ID_QUIT, ID_ARGCOUNT, ID_ARG, ID_ENV, ID_HOST, ID_NAVIGATE, ID_DROPSITE,
        ID_NAVIGATEBROWSER, ID_NAVIGATEDOCUMENT, ID_NAVIGATETOP, ID_SITEDAS
    };
    struct Method
    {
        const wchar_t* name;
        DISPID id;
    };
    static constexpr Method kMethods[] = {
        {L"Echo", ID_ECHO}, {L"Sleep", ID_SLEEP},   {L"Quit", ID_QUIT}, {L"ArgCount", ID_ARGCOUNT},
        {L"Arg", ID_ARG},   {L"Env", ID_ENV},       {L"Host", ID_HOST},   {L"Navigate", ID_NAVIGATE},
        {L"DropSite", ID_DROPSITE}, {L"NavigateBrowser", ID_NAVIGATEBROWSER},
        {L"NavigateDocument", ID_NAVIGATEDOCUMENT}, {L"NavigateTop", ID_NAVIGATETOP}, {L"SitedAs", ID_SITEDAS},
    };

    // Arguments arrive last-first in rgvarg.
    static const VARIANT& Arg(const DISPPARAMS& params, UINT i) { return params.rgvarg[params.cArgs - 1 - i]; }

    static HRESULT ArgLong(const DISPPARAMS& params, UINT i, LONG& value, UINT* argErr)
    {
        CVariant number;
        HRESULT hr = VariantChangeType(&number, const_cast<VARIANT*>(&Arg(params, i)), 0, VT_I4);
        if (FAILED(hr))
        {
            if (argErr)
                *argErr = params.cArgs - 1 - i;
            return DISP_E_TYPEMISMATCH;
        }
        value = V_I4(&number);
        return S_OK;
    }

    static HRESULT ReturnText(VARIANT* result, const std::wstring& text)
    {
        if (!result)
            return S_OK;
        BSTR copy = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
        if (!copy)
            return E_OUTOFMEMORY;
        V_VT(result) = VT_BSTR;
        V_BSTR(result) = copy;
        return S_OK;
    }

    HRESULT Call(DISPID id, const DISPPARAMS& params, VARIANT* result, UINT* argErr)
    {
        switch (id)
        {
        case ID_ECHO:
        {
            std::wstring line;
            for (UINT i = 0; i < params.cArgs; i++)
            {
                if (i)
                    line += L' ';
                line += VariantText(Arg(params, i));
            }
            WriteLine(STD_OUTPUT_HANDLE, line);
            return S_OK;
        }
        case ID_SLEEP:
        {
            LONG ms = 0;
            RETURN_HR_IF(DISP_E_BADPARAMCOUNT, params.cArgs != 1);
            RETURN_IF_FAILED(ArgLong(params, 0, ms, argErr));
            // A page never needs to sleep long; keep a runaway script bounded.
            PumpFor(ms < 0 ? 0 : ms > 600000 ? 600000 : static_cast<DWORD>(ms));
            return S_OK;
        }
        case ID_QUIT:
        {
            LONG code = 0;
            RETURN_HR_IF(DISP_E_BADPARAMCOUNT, params.cArgs > 1);
            if (params.cArgs == 1)
                RETURN_IF_FAILED(ArgLong(params, 0, code, argErr));
            // Like the platform's script host: the process ends here, mid-script.
            ExitProcess(static_cast<UINT>(code));
        }
        case ID_ARGCOUNT:
            RETURN_HR_IF(DISP_E_BADPARAMCOUNT, params.cArgs != 0);
            if (result)
            {
                V_VT(result) = VT_I4;
                V_I4(result) = static_cast<LONG>(m_state.args.size());
            }
            return S_OK;
        case ID_ARG:
        {
            LONG index = 0;
            RETURN_HR_IF(DISP_E_BADPARAMCOUNT, params.cArgs != 1);
            RETURN_IF_FAILED(ArgLong(params, 0, index, argErr));
            RETURN_HR_IF(DISP_E_BADINDEX, index < 0 || static_cast<size_t>(index) >= m_state.args.size());
            return ReturnText(result, m_state.args[static_cast<size_t>(index)]);
        }
        case ID_ENV:
        {
            RETURN_HR_IF(DISP_E_BADPARAMCOUNT, params.cArgs != 1);
            std::wstring name = VariantText(Arg(params, 0));
            DWORD len = GetEnvironmentVariableW(name.c_str(), nullptr, 0);
            std::wstring value;
            if (len > 0)
            {
                value.assign(len, L'\0');
                len = GetEnvironmentVariableW(name.c_str(), &value[0], len);
                value.resize(len);
            }
            return ReturnText(result, value);
        }
        case ID_HOST:
            RETURN_HR_IF(DISP_E_BADPARAMCOUNT, params.cArgs != 0);
            return ReturnText(result, L"PageHost");
        case ID_NAVIGATE:
        case ID_NAVIGATEBROWSER:
        case ID_NAVIGATEDOCUMENT:
        case ID_NAVIGATETOP:
        {
            RETURN_HR_IF(DISP_E_BADPARAMCOUNT, params.cArgs != 1);
            std::wstring url = VariantText(Arg(params, 0));
            if (id == ID_NAVIGATE || id == ID_NAVIGATEBROWSER)
                m_state.site.browser = url;
            if (id == ID_NAVIGATE || id == ID_NAVIGATEDOCUMENT)
                m_state.site.document = url;
            if (id == ID_NAVIGATETOP)
                m_state.site.top = url;
            return S_OK;
        }
        case ID_DROPSITE:
            RETURN_HR_IF(DISP_E_BADPARAMCOUNT, params.cArgs != 0);
            DropSite(m_state);
            return S_OK;
        case ID_SITEDAS:
            RETURN_HR_IF(DISP_E_BADPARAMCOUNT, params.cArgs != 0);
            return ReturnText(result, m_state.siteEmbedding ? L"object" : m_state.siteOwner ? L"script" : L"");
        }
        return DISP_E_MEMBERNOTFOUND;
    }

    CPageState& m_state;
};

constexpr CHostObject::Method CHostObject::kMethods[];


// ---------------------------------------------------------------------------
// Script errors, wherever they are raised: line numbers are 1-based in the report.

void ReportScriptError(CPageState& state, IActiveScriptError* error)
{
    EXCEPINFO info = {};
    error->GetExceptionInfo(&info);
    if (info.pfnDeferredFillIn)
        info.pfnDeferredFillIn(&info);
    DWORD context = 0;
    ULONG line = 0;
    LONG column = 0;
    error->GetSourcePosition(&context, &line, &column);
    CBstr source, description, lineText;
    source.Reset(info.bstrSource);
    description.Reset(info.bstrDescription);
    SysFreeString(info.bstrHelpFile);
    error->GetSourceLineText(lineText.Put());

    const wchar_t* file = context < state.scriptNames.size() ? state.scriptNames[context].c_str() : L"?";
    HRESULT code = info.scode ? info.scode : static_cast<HRESULT>(info.wCode);
    Report(L"%ls(%lu,%ld): script error %ls: %ls%ls%ls", file, static_cast<unsigned long>(line + 1),
           static_cast<long>(column + 1), HrText(code).c_str(),
           description.Get() ? description.Get() : L"(no description)", source.Get() ? L" - " : L"",
           source.Get() ? source.Get() : L"");
    if (lineText.Get() && lineText.Length())
        Report(L"    %ls", lineText.Get());
    state.errors++;
}

// ---------------------------------------------------------------------------
// The script site: names the two items and collects errors.

class CScriptSite : public CRefObject<IActiveScriptSite>
{
public:
    CScriptSite(CPageState& state, IUnknown* control, ITypeInfo* controlInfo, IDispatch* host)
        : m_state(state), m_control(control), m_controlInfo(controlInfo), m_host(host)
    {
    }

    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override
    {
        if (!ppv)
            return E_POINTER;
        *ppv = nullptr;
        if (!IsEqualIID(riid, IID_IUnknown) && !IsEqualIID(riid, __uuidof(IActiveScriptSite)))
            return E_NOINTERFACE;
        *ppv = static_cast<IActiveScriptSite*>(this);
        AddRef();
        return S_OK;
    }
    STDMETHODIMP GetLCID(LCID*) override { return E_NOTIMPL; }
    STDMETHODIMP GetItemInfo(LPCOLESTR name, DWORD mask, IUnknown** ppunk, ITypeInfo** ppti) override
    {
        if (ppunk)
            *ppunk = nullptr;
        if (ppti)
            *ppti = nullptr;
        if (!name)
            return E_INVALIDARG;
        IUnknown* unk = nullptr;
        ITypeInfo* info = nullptr;
        if (lstrcmpW(name, kControlItem) == 0)
        {
            unk = m_control.Get();
            info = m_controlInfo.Get();
        }
        else if (lstrcmpW(name, kHostItem) == 0)
            unk = m_host.Get();
        else
            return TYPE_E_ELEMENTNOTFOUND;
        if (mask & SCRIPTINFO_IUNKNOWN)
        {
            RETURN_HR_IF(E_POINTER, !ppunk);
            *ppunk = unk;
            unk->AddRef();
        }
        if (mask & SCRIPTINFO_ITYPEINFO)
        {
            RETURN_HR_IF(E_POINTER, !ppti);
            RETURN_HR_IF(TYPE_E_ELEMENTNOTFOUND, !info);
            *ppti = info;
            info->AddRef();
        }
        return S_OK;
    }
    STDMETHODIMP GetDocVersionString(BSTR* version) override
    {
        if (version)
            *version = nullptr;
        return E_NOTIMPL;
    }
    STDMETHODIMP OnScriptTerminate(const VARIANT*, const EXCEPINFO*) override { return S_OK; }
    STDMETHODIMP OnStateChange(SCRIPTSTATE) override { return S_OK; }
    STDMETHODIMP OnScriptError(IActiveScriptError* error) override
    {
        try
        {
            if (error)
                ReportScriptError(m_state, error);
        }
        catch (...)
        {
        }
        // S_OK: the engine stops the failing script, as a browser does.
        return S_OK;
    }
    STDMETHODIMP OnEnterScript() override { return S_OK; }
    STDMETHODIMP OnLeaveScript() override { return S_OK; }

private:
    CPageState& m_state;
    CIfacePtr<IUnknown> m_control;
    CIfacePtr<ITypeInfo> m_controlInfo;
    CIfacePtr<IDispatch> m_host;
};

// ---------------------------------------------------------------------------
// The event sink: what a browser connects to a control's default source.

class CEventSink : public CRefObject<IDispatch>
{
public:
    CEventSink(CPageState& state, REFIID sourceIid, ITypeInfo* sourceInfo)
        : m_state(state), m_sourceIid(sourceIid), m_sourceInfo(sourceInfo)
    {
    }

    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override
    {
        if (!ppv)
            return E_POINTER;
        *ppv = nullptr;
        if (!IsEqualIID(riid, IID_IUnknown) && !IsEqualIID(riid, IID_IDispatch) && !IsEqualIID(riid, m_sourceIid))
            return E_NOINTERFACE;
        *ppv = static_cast<IDispatch*>(this);
        AddRef();
        return S_OK;
    }
    STDMETHODIMP GetTypeInfoCount(UINT* pctinfo) override
    {
        if (!pctinfo)
            return E_POINTER;
        *pctinfo = 0;
        return S_OK;
    }
    STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo** ppTInfo) override
    {
        if (ppTInfo)
            *ppTInfo = nullptr;
        return DISP_E_BADINDEX;
    }
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    STDMETHODIMP Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* params, VARIANT*, EXCEPINFO*,
                        UINT*) override
    {
        try
        {
            return CallHandler(id, params);
        }
        catch (...)
        {
            return E_OUTOFMEMORY;
        }
    }

private:
    HRESULT CallHandler(DISPID id, DISPPARAMS* params)
    {
        if (m_state.trace)
            Report(L"PageHost: event %ld with %u arguments", static_cast<long>(id), params ? params->cArgs : 0u);
        CBstr event;
        UINT count = 0;
        if (FAILED(m_sourceInfo->GetNames(id, event.Put(), 1, &count)) || count == 0 || !event.Get())
        {
            Report(L"PageHost: event with unknown DISPID %ld dropped", static_cast<long>(id));
            return DISP_E_MEMBERNOTFOUND;
        }
        std::wstring handler = std::wstring(kControlItem) + L"_" + event.Get();

        CIfacePtr<IDispatch> page;
        RETURN_HR_IF(E_UNEXPECTED, !m_state.script);
        RETURN_IF_FAILED(m_state.script->GetScriptDispatch(nullptr, page.Put()));
        DISPID handlerId = DISPID_UNKNOWN;
        LPOLESTR name = &handler[0];
        if (FAILED(page->GetIDsOfNames(IID_NULL, &name, 1, LOCALE_USER_DEFAULT, &handlerId)))
        {
            if (m_state.trace)
                Report(L"PageHost: no handler %ls", handler.c_str());
            return S_OK;   // the page has no handler for this event
        }

        DISPPARAMS none = {};
        EXCEPINFO info = {};
        int errorsBefore = m_state.errors;
        CVariant result;
        HRESULT hr = page->Invoke(handlerId, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD,
                                  params ? params : &none, &result, &info, nullptr);
        if (info.pfnDeferredFillIn)
            info.pfnDeferredFillIn(&info);
        CBstr description, source;
        description.Reset(info.bstrDescription);
        source.Reset(info.bstrSource);
        SysFreeString(info.bstrHelpFile);
        // The engine usually reports a handler's error through OnScriptError
        // (with the line) and answers SCRIPT_E_REPORTED; count it once.
        if (FAILED(hr) && m_state.errors == errorsBefore)
        {
            HRESULT code = hr == DISP_E_EXCEPTION && info.scode ? info.scode : hr;
            Report(L"%ls: script error %ls: %ls", handler.c_str(), HrText(code).c_str(),
                   description.Get() ? description.Get() : L"(no description)");
            m_state.errors++;
        }
        return hr;
    }

    CPageState& m_state;
    IID m_sourceIid;
    CIfacePtr<ITypeInfo> m_sourceInfo;
};

// ---------------------------------------------------------------------------
// Setting up the page.

// The type description of the coclass's default source interface.
HRESULT FindDefaultSource(ITypeInfo* classInfo, ITypeInfo** sourceInfo)
{
    *sourceInfo = nullptr;
    TYPEATTR* attr = nullptr;
    RETURN_IF_FAILED(classInfo->GetTypeAttr(&attr));
    WORD implCount = attr->cImplTypes;
    classInfo->ReleaseTypeAttr(attr);
    for (UINT i = 0; i < implCount; i++)
    {
        INT flags = 0;
        if (FAILED(classInfo->GetImplTypeFlags(i, &flags)))
            continue;
        if ((flags & (IMPLTYPEFLAG_FDEFAULT | IMPLTYPEFLAG_FSOURCE)) != (IMPLTYPEFLAG_FDEFAULT | IMPLTYPEFLAG_FSOURCE))
            continue;
        HREFTYPE ref = 0;
        RETURN_IF_FAILED(classInfo->GetRefTypeOfImplType(i, &ref));
        return classInfo->GetRefTypeInfo(ref, sourceInfo);
    }
    return TYPE_E_ELEMENTNOTFOUND;
}

struct CConnection
{
    CIfacePtr<IConnectionPoint> point;
    DWORD cookie = 0;
    ~CConnection()
    {
        if (point && cookie)
            point->Unadvise(cookie);
    }
};

// Takes the site back from the control when the page ends, as a browser does.
struct CSiteRelease
{
    CPageState& state;
    ~CSiteRelease() { DropSite(state); }
};

enum class SiteAs { Object, Script };

// Sites the control: an object tag's site goes through IOleObject where the
// control answers it; what a script engine creates gets IObjectWithSite. A
// control that takes no site goes without, as it would in a browser.
HRESULT OfferSite(CPageState& state, IUnknown* control, SiteVia via, SiteAs as)
{
    CIfacePtr<IOleClientSite> site;
    site.Attach(new CClientSite(state.site, via));
    CIfacePtr<IOleObject> embedding;
    if (as == SiteAs::Object && SUCCEEDED(control->QueryInterface(IID_IOleObject, embedding.PutVoid())))
    {
        RETURN_IF_FAILED(embedding->SetClientSite(site.Get()));
        state.siteEmbedding = embedding;
        return S_OK;
    }
    CIfacePtr<IObjectWithSite> withSite;
    if (SUCCEEDED(control->QueryInterface(IID_IObjectWithSite, withSite.PutVoid())))
    {
        RETURN_IF_FAILED(withSite->SetSite(site.Get()));
        state.siteOwner = withSite;
        return S_OK;
    }
    if (state.trace)
        Report(L"PageHost: the control takes no site");
    return S_OK;
}

int RunPage(CPageState& state, const std::wstring& progId, const std::vector<std::wstring>& files, bool offerSite,
            SiteVia via, SiteAs as)
{
    std::vector<std::wstring> texts;
    for (const std::wstring& file : files)
    {
        std::wstring text;
        if (!ReadScript(file, text))
        {
            Report(L"PageHost: cannot read %ls", file.c_str());
            return 2;
        }
        texts.push_back(text);
        size_t slash = file.find_last_of(L"\\/");
        state.scriptNames.push_back(slash == std::wstring::npos ? file : file.substr(slash + 1));
    }

    // The object tag: create the control, let it declare itself safe for script.
    CLSID clsid;
    HRESULT hr = CLSIDFromProgID(progId.c_str(), &clsid);
    if (FAILED(hr))
    {
        Report(L"PageHost: ProgID %ls is not registered (%ls)", progId.c_str(), HrText(hr).c_str());
        return 3;
    }
    CIfacePtr<IUnknown> control;
    hr = CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, control.PutVoid());
    if (FAILED(hr))
    {
        Report(L"PageHost: cannot create %ls (%ls)", progId.c_str(), HrText(hr).c_str());
        return 3;
    }
    CIfacePtr<IObjectSafety> safety;
    hr = control->QueryInterface(IID_IObjectSafety, safety.PutVoid());
    if (SUCCEEDED(hr))
        hr = safety->SetInterfaceSafetyOptions(IID_IDispatch, INTERFACESAFE_FOR_UNTRUSTED_CALLER,
                                               INTERFACESAFE_FOR_UNTRUSTED_CALLER);
    if (FAILED(hr))
    {
        Report(L"PageHost: the control is not safe for scripting (%ls)", HrText(hr).c_str());
        return 3;
    }

    // The site, before any script runs.
    CSiteRelease siteRelease{state};
    if (offerSite)
    {
        hr = OfferSite(state, control.Get(), via, as);
        if (FAILED(hr))
        {
            Report(L"PageHost: the control refused its site (%ls)", HrText(hr).c_str());
            return 3;
        }
    }

    // Connect the page's sink to the default source, as a browser does.
    CIfacePtr<IProvideClassInfo2> classInfo2;
    CIfacePtr<ITypeInfo> classInfo, sourceInfo;
    IID sourceIid = IID_NULL;
    CIfacePtr<IConnectionPointContainer> container;
    CConnection connection;
    hr = control->QueryInterface(IID_IProvideClassInfo2, classInfo2.PutVoid());
    if (SUCCEEDED(hr))
        hr = classInfo2->GetGUID(GUIDKIND_DEFAULT_SOURCE_DISP_IID, &sourceIid);
    if (SUCCEEDED(hr))
        hr = classInfo2->GetClassInfo(classInfo.Put());
    if (SUCCEEDED(hr))
        hr = FindDefaultSource(classInfo.Get(), sourceInfo.Put());
    if (SUCCEEDED(hr))
        hr = control->QueryInterface(IID_IConnectionPointContainer, container.PutVoid());
    if (SUCCEEDED(hr))
        hr = container->FindConnectionPoint(sourceIid, connection.point.Put());
    if (FAILED(hr))
    {
        Report(L"PageHost: cannot find the control's events (%ls)", HrText(hr).c_str());
        return 3;
    }
    CIfacePtr<IDispatch> sink;
    sink.Attach(new CEventSink(state, sourceIid, sourceInfo.Get()));
    hr = connection.point->Advise(sink.Get(), &connection.cookie);
    if (FAILED(hr))
    {
        Report(L"PageHost: cannot connect to the control's events (%ls)", HrText(hr).c_str());
        return 3;
    }
    if (state.trace)
    {
        wchar_t iid[40] = L"";
        StringFromGUID2(sourceIid, iid, ARRAYSIZE(iid));
        Report(L"PageHost: connected to %ls, cookie %lu", iid, static_cast<unsigned long>(connection.cookie));
    }

    // The script engine, with the two named items.
    CIfacePtr<IDispatch> host;
    host.Attach(new CHostObject(state));
    CIfacePtr<IActiveScriptSite> site;
    site.Attach(new CScriptSite(state, control.Get(), classInfo.Get(), host.Get()));
    CLSID engineClsid;
    CIfacePtr<IActiveScriptParse> parse;
    hr = CLSIDFromProgID(L"JScript", &engineClsid);
    if (SUCCEEDED(hr))
        hr = CoCreateInstance(engineClsid, nullptr, CLSCTX_INPROC_SERVER, __uuidof(IActiveScript),
                              state.script.PutVoid());
    if (SUCCEEDED(hr))
        hr = state.script->QueryInterface(__uuidof(IActiveScriptParse), parse.PutVoid());
    if (SUCCEEDED(hr))
        hr = state.script->SetScriptSite(site.Get());
    if (SUCCEEDED(hr))
        hr = parse->InitNew();
    if (SUCCEEDED(hr))
        hr = state.script->AddNamedItem(kControlItem, SCRIPTITEM_ISVISIBLE);
    if (SUCCEEDED(hr))
        hr = state.script->AddNamedItem(kHostItem, SCRIPTITEM_ISVISIBLE);
    if (SUCCEEDED(hr))
        hr = state.script->SetScriptState(SCRIPTSTATE_CONNECTED);
    if (FAILED(hr))
    {
        Report(L"PageHost: cannot set up the JScript engine (%ls)", HrText(hr).c_str());
        if (state.script)
            state.script->Close();
        return 3;
    }

    // Each script runs as it is parsed, in order, like the script blocks of a page.
    // A failing block stops; the next one still runs, as in a browser.
    for (size_t i = 0; i < texts.size(); i++)
    {
        EXCEPINFO info = {};
        int errorsBefore = state.errors;
        hr = parse->ParseScriptText(texts[i].c_str(), nullptr, nullptr, nullptr, static_cast<DWORD>(i), 0,
                                    SCRIPTTEXT_ISVISIBLE, nullptr, &info);
        SysFreeString(info.bstrSource);
        SysFreeString(info.bstrDescription);
        SysFreeString(info.bstrHelpFile);
        // An error the engine did not hand to OnScriptError still counts.
        if (FAILED(hr) && state.errors == errorsBefore)
        {
            Report(L"%ls: script failed (%ls)", state.scriptNames[i].c_str(), HrText(hr).c_str());
            state.errors++;
        }
    }

    state.script->Close();
    state.script.Reset();
    return state.errors ? 1 : 0;
}

int Usage()
{
    Report(L"usage: PageHost.exe [--progid <ProgID>] [--site-url <URL> [--site-via both|browser|document|none]"
           L" [--site-as object|script] [--site-top <URL>]] <script> [<script>...] [-- <arguments>]");
    return 2;
}
}   // namespace

int wmain(int argc, wchar_t** argv)
{
    try
    {
        CPageState state;
        state.trace = GetEnvironmentVariableW(L"PAGEHOST_TRACE", nullptr, 0) > 0;
        std::wstring progId = L"Halvex.Tavrine";
        std::vector<std::wstring> files;
        bool offerSite = false;
        SiteVia via = SiteVia::Both;
        SiteAs as = SiteAs::Object;
        for (int i = 1; i < argc; i++)
        {
            std::wstring arg = argv[i];
            if (arg == L"--")
            {
                state.args.assign(argv + i + 1, argv + argc);
                break;
            }
            if (arg == L"--progid" && i + 1 < argc)
                progId = argv[++i];
            else if (arg == L"--site-url" && i + 1 < argc)
            {
                offerSite = true;
                state.site.document = state.site.browser = argv[++i];
            }
            else if (arg == L"--site-top" && i + 1 < argc)
                state.site.top = argv[++i];
            else if (arg == L"--site-as" && i + 1 < argc)
            {
                std::wstring name = argv[++i];
                if (name == L"object")
                    as = SiteAs::Object;
                else if (name == L"script")
                    as = SiteAs::Script;
                else
                    return Usage();
            }
            else if (arg == L"--site-via" && i + 1 < argc)
            {
                std::wstring name = argv[++i];
                if (name == L"both")
                    via = SiteVia::Both;
                else if (name == L"browser")
                    via = SiteVia::Browser;
                else if (name == L"document")
                    via = SiteVia::Document;
                else if (name == L"none")
                    via = SiteVia::None;
                else
                    return Usage();
            }
            else if (arg.compare(0, 2, L"--") == 0)
                return Usage();
            else
                files.push_back(arg);
        }
        if (files.empty())
            return Usage();

        // The browser's UI thread is a single-threaded apartment.
        HRESULT hr = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
        if (FAILED(hr))
        {
            Report(L"PageHost: CoInitializeEx failed (%ls)", HrText(hr).c_str());
            return 3;
        }
        int code = RunPage(state, progId, files, offerSite, via, as);
        CoUninitialize();
        return code;
    }
    catch (...)
    {
        Report(L"PageHost: out of memory");
        return 3;
    }
}

#include "PageAddress.h"
#include "BrowserNavigation.h"
#include "ComHolder.h"

#include <exdisp.h>
#include <servprov.h>
#include <urlmon.h>

namespace {

std::wstring displayName(IMoniker* moniker)
{
    ComHolder<IBindCtx> context;
    if (FAILED(CreateBindCtx(0, context.out())) || !context)
        return std::wstring();
    LPOLESTR name = nullptr;
    if (FAILED(moniker->GetDisplayName(context.get(), nullptr, &name)) || name == nullptr)
        return std::wstring();
    std::wstring text(name);
    CoTaskMemFree(name);
    return text;
}

// The container's moniker, with a reference for the caller; null when the
// site has none at hand.
IMoniker* containerMoniker(IOleClientSite* site)
{
    IMoniker* moniker = nullptr;
    if (FAILED(site->GetMoniker(OLEGETMONIKER_ONLYIFTHERE, OLEWHICHMK_CONTAINER, &moniker)))
        return nullptr;   // whatever a failing site left in the slot is not ours
    return moniker;
}

std::wstring browserLocation(IOleClientSite* site)
{
    ComHolder<IWebBrowser2> browser;
    *browser.out() = topLevelBrowser(site);
    if (!browser)
        return std::wstring();
    BSTR location = nullptr;
    std::wstring text;
    if (SUCCEEDED(browser->get_LocationURL(&location)) && location != nullptr)
        text.assign(location, SysStringLen(location));
    SysFreeString(location);
    return text;
}

bool resolveAgainst(IMoniker* base, const std::wstring& reference, std::wstring& resolved)
{
    ComHolder<IMoniker> result;
    if (FAILED(CreateURLMonikerEx(base, reference.c_str(), result.out(), URL_MK_UNIFORM)) || !result)
        return false;
    resolved = displayName(result.get());
    return !resolved.empty();
}

bool resolveByBindHost(IOleClientSite* site, const std::wstring& reference, std::wstring& resolved)
{
    ComHolder<IServiceProvider> provider;
    site->QueryInterface(IID_IServiceProvider, provider.outVoid());
    if (!provider)
        return false;
    ComHolder<IBindHost> bindHost;
    provider->QueryService(SID_SBindHost, IID_IBindHost, bindHost.outVoid());
    if (!bindHost)
        return false;
    std::wstring name = reference;   // CreateMoniker takes a writable string
    ComHolder<IMoniker> moniker;
    if (FAILED(bindHost->CreateMoniker(&name[0], nullptr, moniker.out(), 0)) || !moniker)
        return false;
    resolved = displayName(moniker.get());
    return !resolved.empty();
}

} // namespace

std::wstring pageUrl(IOleClientSite* site)
{
    if (site == nullptr)
        return std::wstring();
    ComHolder<IMoniker> container;
    *container.out() = containerMoniker(site);
    if (container) {
        std::wstring name = displayName(container.get());
        if (!name.empty())
            return name;
    }
    return browserLocation(site);
}

bool resolveAgainstPage(IOleClientSite* site, const std::wstring& reference, std::wstring& resolved)
{
    resolved.clear();
    if (site == nullptr)
        return false;
    if (resolveByBindHost(site, reference, resolved))
        return true;
    ComHolder<IMoniker> container;
    *container.out() = containerMoniker(site);
    if (container && resolveAgainst(container.get(), reference, resolved))
        return true;
    const std::wstring location = browserLocation(site);
    if (location.empty())
        return false;
    ComHolder<IMoniker> base;
    if (FAILED(CreateURLMoniker(nullptr, location.c_str(), base.out())) || !base)
        return false;
    if (resolveAgainst(base.get(), reference, resolved))
        return true;
    resolved.clear();
    return false;
}

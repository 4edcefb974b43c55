#include "BrowserNavigation.h"
#include "AddressPolicy.h"
#include "ComHolder.h"
#include "UrlCracker.h"
#include "UrlTemplate.h"

#include <windows.h>
#include <exdisp.h>
#include <oleauto.h>
#include <servprov.h>
#include <shlguid.h>

namespace {

// A VARIANT that is cleared (freeing any string it holds) on every path.
class VariantHolder {
public:
    VariantHolder() { VariantInit(&value_); }
    ~VariantHolder() { VariantClear(&value_); }
    VariantHolder(const VariantHolder&) = delete;
    VariantHolder& operator=(const VariantHolder&) = delete;

    VARIANT* get() { return &value_; }

    // False when the string cannot be allocated.
    bool setString(const std::wstring& text)
    {
        VariantClear(&value_);
        BSTR s = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
        if (s == nullptr)
            return false;
        V_VT(&value_) = VT_BSTR;
        V_BSTR(&value_) = s;
        return true;
    }
    void setInt32(LONG number)
    {
        VariantClear(&value_);
        V_VT(&value_) = VT_I4;
        V_I4(&value_) = number;
    }

private:
    VARIANT value_;
};

// A BSTR filled by a call and freed on every path.
class BstrHolder {
public:
    BstrHolder() = default;
    ~BstrHolder() { SysFreeString(value_); }
    BstrHolder(const BstrHolder&) = delete;
    BstrHolder& operator=(const BstrHolder&) = delete;

    BSTR* out()
    {
        SysFreeString(value_);
        value_ = nullptr;
        return &value_;
    }
    BSTR get() const { return value_; }

private:
    BSTR value_ = nullptr;
};

// The texts navigation works with are ANSI; the browser takes UTF-16.
std::wstring ansiToWide(const std::string& text)
{
    if (text.empty())
        return std::wstring();
    const int length = MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    if (length <= 0)
        return std::wstring();
    std::wstring wide(static_cast<size_t>(length), L'\0');
    MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), &wide[0], length);
    return wide;
}

}  // namespace

IWebBrowser2* topLevelBrowser(IUnknown* clientSite)
{
    if (clientSite == nullptr)
        return nullptr;
    // Declared in the order obtained, so they are released in reverse:
    // top-level provider, the site's provider. Only whether an interface
    // came back counts, whatever the calls report.
    ComHolder<IServiceProvider> siteProvider;
    clientSite->QueryInterface(IID_IServiceProvider, siteProvider.outVoid());
    if (!siteProvider)
        return nullptr;
    ComHolder<IServiceProvider> topLevelProvider;
    siteProvider->QueryService(SID_STopLevelBrowser, IID_IServiceProvider, topLevelProvider.outVoid());
    if (!topLevelProvider)
        return nullptr;
    IWebBrowser2* browser = nullptr;
    topLevelProvider->QueryService(SID_SWebBrowserApp, IID_IWebBrowser2, reinterpret_cast<void**>(&browser));
    return browser;
}

BrowserNavigation::~BrowserNavigation()
{
    if (browser_ != nullptr)
        browser_->Release();
}

bool BrowserNavigation::prepare(IUnknown* clientSite, const std::string& relativeUrl)
{
    if (browser_ != nullptr)
        browser_->Release();
    browser_ = nullptr;
    absoluteUrl_.clear();
    if (clientSite == nullptr || relativeUrl.empty())
        return false;
    ComHolder<IWebBrowser2> browser;
    *browser.out() = topLevelBrowser(clientSite);
    if (!browser)
        return false;
    UrlCracker cracker;
    BstrHolder location;
    if (FAILED(browser->get_LocationURL(location.out())))
        return false;
    if (!cracker.crack(location.get()))
        return false;
    absoluteUrl_ = joinBaseUrl(cracker.scheme(), cracker.host(), cracker.port(), relativeUrl);
    browser_ = browser.get();
    browser_->AddRef();
    return true;
}

bool BrowserNavigation::navigate(const std::string& frame)
{
    if (browser_ == nullptr)
        return false;
    VariantHolder frameName;
    VariantHolder flags;
    VariantHolder url;
    if (!frameName.setString(ansiToWide(frame)) || !url.setString(ansiToWide(absoluteUrl_)))
        return false;
    flags.setInt32(0);
    browser_->Navigate2(url.get(), flags.get(), frameName.get(), nullptr, nullptr);
    return true;
}

bool navigateViaBrowser(IUnknown* clientSite, const std::string& relativeUrl,
                        const std::string& frame)
{
    BrowserNavigation navigation;
    if (!navigation.prepare(clientSite, relativeUrl))
        return false;
    if (checkResolvedNavigation(navigation.absoluteUrl()) != NavigationRefusal::None)
        return false;
    return navigation.navigate(frame);
}

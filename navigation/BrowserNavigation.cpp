#include "BrowserNavigation.h"
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

// The top-level browser that a control's client site leads to; false when
// there is none. Only whether an interface came back counts, whatever the
// calls report.
bool topLevelBrowser(IUnknown* clientSite, ComHolder<IWebBrowser2>& browser)
{
    ComHolder<IServiceProvider> siteProvider;
    clientSite->QueryInterface(IID_IServiceProvider, siteProvider.outVoid());
    if (!siteProvider)
        return false;
    ComHolder<IServiceProvider> topLevelProvider;
    siteProvider->QueryService(SID_STopLevelBrowser, IID_IServiceProvider, topLevelProvider.outVoid());
    if (!topLevelProvider)
        return false;
    topLevelProvider->QueryService(SID_SWebBrowserApp, IID_IWebBrowser2, browser.outVoid());
    return bool(browser);
}

// The relative URL from the root of the page that the browser shows; empty
// when the page's location cannot be read or cracked.
std::string absoluteUrlIn(IWebBrowser2* browser, const std::string& relativeUrl)
{
    UrlCracker cracker;
    BstrHolder location;
    if (FAILED(browser->get_LocationURL(location.out())))
        return std::string();
    if (!cracker.crack(location.get()))
        return std::string();
    return joinBaseUrl(cracker.scheme(), cracker.host(), cracker.port(), relativeUrl);
}

}  // namespace

std::string browserAbsoluteUrl(IUnknown* clientSite, const std::string& relativeUrl)
{
    if (clientSite == nullptr || relativeUrl.empty())
        return std::string();
    ComHolder<IWebBrowser2> browser;
    if (!topLevelBrowser(clientSite, browser))
        return std::string();
    return absoluteUrlIn(browser.get(), relativeUrl);
}

bool navigateViaBrowser(IUnknown* clientSite, const std::string& relativeUrl,
                        const std::string& frame)
{
    VariantHolder frameName;
    VariantHolder flags;
    if (!frameName.setString(ansiToWide(frame)))
        return false;
    flags.setInt32(0);

    if (clientSite == nullptr || relativeUrl.empty())
        return false;

    ComHolder<IWebBrowser2> browser;
    if (!topLevelBrowser(clientSite, browser))
        return false;
    const std::string absoluteUrl = absoluteUrlIn(browser.get(), relativeUrl);
    if (absoluteUrl.empty())
        return false;

    VariantHolder url;
    if (!url.setString(ansiToWide(absoluteUrl)))
        return false;
    browser->Navigate2(url.get(), flags.get(), frameName.get(), nullptr, nullptr);
    return true;
}

// The rules on addresses alone: what kind of place an address names (read as
// the platform reads it), what the control may load for which host, and what
// a hotspot's URL may be.
#include "AddressPolicy.h"

#include <gtest/gtest.h>

#include <string>

namespace {

std::u16string utf16(const std::string& ascii) { return std::u16string(ascii.begin(), ascii.end()); }

const char* name(AddressKind kind)
{
    switch (kind) {
    case AddressKind::Relative: return "Relative";
    case AddressKind::Web: return "Web";
    case AddressKind::LocalFile: return "LocalFile";
    case AddressKind::NetworkFile: return "NetworkFile";
    case AddressKind::Device: return "Device";
    case AddressKind::OtherScheme: return "OtherScheme";
    }
    return "?";
}

TEST(AddressPolicy, KindsOfAddresses)
{
    using K = AddressKind;
    struct Case {
        const char* address;
        AddressKind kind;
    } cases[] = {
        {"", K::Relative},
        {"floorplan.htf", K::Relative},
        {"../plans/floor 2.htf?x=1#top", K::Relative},
        {"/servlets/x", K::Relative},
        {" http://h/x", K::Relative},   // resolved first, then judged again
        {"http://www.example.com/x.htf", K::Web},
        {"HTTPS://www.example.com:8443/x", K::Web},
        {"http:x.htf", K::Web},
        {"C:\\windows\\win.ini", K::LocalFile},
        {"c:/docs/plan.htf", K::LocalFile},
        {"C:plan.htf", K::LocalFile},
        {"file:///C:/docs/plan.htf", K::LocalFile},
        {"FILE:///c|/docs/plan.htf", K::LocalFile},
        {"file://localhost/C:/docs/plan.htf", K::LocalFile},
        {"file://C:/docs/plan.htf", K::LocalFile},
        {"file:/C:/docs/plan.htf", K::LocalFile},
        {"file:C:\\docs\\plan.htf", K::LocalFile},
        {"file:///C:/docs/com10.htf", K::LocalFile},
        {"\\\\192.0.2.1\\share\\doc.htf", K::NetworkFile},
        {"//server/share/doc.htf", K::NetworkFile},
        {"\\/server/share", K::NetworkFile},
        {"file://server/share/doc.htf", K::NetworkFile},
        {"file:////server/share/doc.htf", K::NetworkFile},
        {"file:///%5C%5Cserver%5Cshare%5Cdoc.htf", K::NetworkFile},
        {"file://%73erver/share", K::NetworkFile},
        {"\\\\.\\pipe\\x", K::Device},
        {"\\\\.\\COM1", K::Device},
        {"//./pipe/x", K::Device},
        {"\\\\?\\C:\\docs\\plan.htf", K::Device},
        {"\\\\?\\UNC\\server\\share", K::Device},
        {"\\??\\C:\\docs\\plan.htf", K::Device},
        {"file://./pipe/x", K::Device},
        {"file:///\\\\.\\pipe\\x", K::Device},
        {"file:///%5C%5C.%5Cpipe%5Cx", K::Device},
        {"C:\\docs\\COM1", K::Device},
        {"C:\\docs\\com1.htf", K::Device},
        {"C:\\docs\\nul .htf", K::Device},
        {"C:\\docs\\LPT9:stream", K::Device},
        {"c:/x/CON", K::Device},
        {"C:\\docs\\conout$", K::Device},
        {"AUX", K::Device},
        {"plans/prn.htf", K::Device},
        {"file:///C:/docs/NUL", K::Device},
        {"file:///x/COM3", K::Device},
        {"javascript:alert(1)", K::OtherScheme},
        {"ftp://h/x.htf", K::OtherScheme},
        {"mk:@MSITStore:C:\\x.chm::/a.htf", K::OtherScheme},
        {"res://ROZERADO.DLL/1", K::OtherScheme},
        {"x.htf:stream", K::OtherScheme},   // "x.htf" reads as a scheme
        {"file:plan.htf", K::OtherScheme},
        {"file:///etc/passwd", K::OtherScheme},
        {"httpx://h/", K::OtherScheme},
    };
    for (const Case& c : cases) {
        EXPECT_STREQ(name(classifyAddress(std::string(c.address))), name(c.kind)) << c.address;
        EXPECT_STREQ(name(classifyAddress(utf16(c.address))), name(c.kind)) << c.address << " (UTF-16)";
    }
    // The superscript digits name devices as well; characters beyond the
    // Latin letters are no scheme and no separator.
    EXPECT_EQ(classifyAddress(u"C:\\docs\\COM\u00B9.htf"), AddressKind::Device);
    EXPECT_EQ(classifyAddress(u"\uFF3C\uFF3Chost\uFF3Cshare"), AddressKind::Relative);
    EXPECT_EQ(classifyAddress(u"\u0435ttp://h/"), AddressKind::Relative);   // Cyrillic e
}

TEST(AddressPolicy, WhatTheControlMayLoad)
{
    using K = AddressKind;
    struct Case {
        AddressKind kind;
        bool trusted, untrustedFromWebPage, untrustedFromLocalPage;
    } cases[] = {
        {K::Web, true, true, true},
        {K::LocalFile, true, false, true},
        {K::NetworkFile, true, false, false},
        {K::Device, false, false, false},
        {K::OtherScheme, true, false, false},
        {K::Relative, true, false, false},   // one that could not be resolved
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(name(c.kind));
        EXPECT_EQ(maySourceLoad(c.kind, false, false), c.trusted);
        EXPECT_EQ(maySourceLoad(c.kind, false, true), c.trusted);
        EXPECT_EQ(maySourceLoad(c.kind, true, false), c.untrustedFromWebPage);
        EXPECT_EQ(maySourceLoad(c.kind, true, true), c.untrustedFromLocalPage);
    }
    EXPECT_TRUE(hasNulCharacter(std::u16string(u"a\0b", 3)));
    EXPECT_FALSE(hasNulCharacter(u"ab"));
}

TEST(AddressPolicy, ResolvedNavigationsAreWebOnly)
{
    using R = NavigationRefusal;
    struct Case {
        const char* url;
        NavigationRefusal refusal;
    } cases[] = {
        {"http://www.example.com:80/servlets/x", R::None},
        {"https://www.example.com:443/x", R::None},
        {"file://:0/servlets/x", R::SchemeNotAllowed},
        {"ftp://h:21/x", R::SchemeNotAllowed},
        {"/servlets/x", R::SchemeNotAllowed},
        {"http://h:80/x\ny", R::ControlCharacterInUrl},
    };
    for (const Case& c : cases)
        EXPECT_EQ(int(checkResolvedNavigation(c.url)), int(c.refusal)) << c.url;
    EXPECT_TRUE(hasControlCharacter(std::string("a\0b", 3)));
    EXPECT_TRUE(hasControlCharacter("\x1F"));
    EXPECT_FALSE(hasControlCharacter("Room 1 \xE4\x80\xA0"));   // bytes above 0x7F are text in the code page
}

} // namespace

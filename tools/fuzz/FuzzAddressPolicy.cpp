// Feeds any bytes to the address rules as a src (narrow and UTF-16), as a
// hotspot reference in a URL template and as a resolved URL, and checks that
// the two text widths agree, that a navigable URL never names a local file,
// a share or another scheme, and that the debug box's text shows every
// control character escaped.
#include "AddressPolicy.h"
#include "UrlTemplate.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

void check(bool ok, const char* what)
{
    if (!ok) {
        std::fprintf(stderr, "address policy: %s\n", what);
        std::abort();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzedDataProvider input(data, size);
    const std::string templateText = input.ConsumeRandomLengthString(200);
    const std::string reference = input.ConsumeRemainingBytesAsString();

    // The same code units in both widths are the same address.
    const std::u16string wide(reference.begin(), reference.end());
    std::u16string units;
    for (unsigned char c : reference)
        units.push_back(char16_t(c));
    const AddressKind kind = classifyAddress(reference);
    check(kind == classifyAddress(units), "narrow and UTF-16 texts classify alike");
    check(!maySourceLoad(AddressKind::Device, false, false), "devices are never loaded");
    check(maySourceLoad(kind, true, true) <= maySourceLoad(kind, false, true), "untrusted never loads more");

    const std::string url = composeHotspotUrl(templateText, reference);
    const NavigationRefusal refusal = checkHotspotNavigation(reference, url);
    if (refusal == NavigationRefusal::None) {
        check(!hasControlCharacter(url), "no control character is navigated");
        size_t start = 0;
        while (start < url.size() && url[start] == ' ')
            ++start;
        const AddressKind target = classifyAddress(url.substr(start));
        check(target != AddressKind::LocalFile && target != AddressKind::NetworkFile &&
                  target != AddressKind::OtherScheme,
              "a navigable URL names no file, share or other scheme");
    } else {
        const std::string text = refusedNavigationDebugText("_self", url, navigationRefusalText(refusal));
        size_t breaks = 0;
        for (unsigned char c : text) {
            check(c >= 0x20 || c == '\n', "the debug text escapes control characters");
            check(c != 0x7F, "the debug text escapes DEL");
            breaks += c == '\n';
        }
        check(breaks == 2, "the debug text has its three lines");
    }
    if (checkResolvedNavigation(reference) == NavigationRefusal::None)
        check(kind == AddressKind::Web, "a resolved navigation is http or https");
    return 0;
}

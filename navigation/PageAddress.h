#pragma once
// The page that embeds the control, as its client site tells it: the page's
// own URL, and an address of the page resolved against it the way browsers
// resolve the addresses in a page ("floorplan.htf" in
// http://host/dir/page.htm is http://host/dir/floorplan.htf).
#include <ole2.h>

#include <string>

// The page's URL: the display name of the container's moniker, else the
// top-level browser's location; empty when neither is known.
std::wstring pageUrl(IOleClientSite* site);

// `reference` resolved against the page: by the site's bind host
// (SID_SBindHost, IBindHost::CreateMoniker), else relative to the container's
// moniker (OLEWHICHMK_CONTAINER), else relative to the top-level browser's
// location. False, with `resolved` empty, when the site offers none of them
// or none of them gives a URL.
bool resolveAgainstPage(IOleClientSite* site, const std::wstring& reference, std::wstring& resolved);

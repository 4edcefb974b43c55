#pragma once
// The product's version number: major, minor, patch, build. This is the one
// place it is written. The module's version block (Version.rc) takes it for
// its fixed part and its version texts; scripts/package reads it for the
// installer's own version and the plug-in key's Version value.
#define ROZERADO_VERSION 1, 0, 0, 1

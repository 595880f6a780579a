// The plug-in's version block: a browser scanning plug-ins learns from its
// MIMEType entry what the plug-in handles.

#include "win32/version.h"

namespace {

constexpr OrvaVersionString kStrings[] = {
    {"Comments", ""},
    {"CompanyName", "Korvane"},
    {"FileDescription", "ORVA UKEY Ctrl for firefox(XR)"},
    {"FileExtents", "*"},
    {"FileOpenName", "ORVA UKEY Ctrl for firefox(XR)"},
    {"FileVersion", "1, 0, 0, 0"},
    {"InternalName", "npqzorva"},
    {"LegalCopyright", "Copyright (C) Korvane"},
    {"LegalTrademarks", ""},
    {"MIMEType", "application/orva-firefox-XR-plugin"},
    {"OriginalFilename", "nporva_firefox_XR.dll"},
    {"PrivateBuild", ""},
    {"ProductName", "ORVA UKEY Ctrl for firefox(XR)"},
    {"ProductVersion", "1, 0, 0, 0"},
    {"SpecialBuild", "20230828"},
};

}  // namespace

ORVA_VERSION_BLOCK = {
    {VS_FFI_SIGNATURE, VS_FFI_STRUCVERSION, 0x00010000u, 0x00000000u, 0x00010000u, 0x00000000u,
     0x3Fu, 0u, VOS_NT_WINDOWS32, VFT_DLL, 0u, 0u, 0u},
    0x0804,
    0x04B0,
    kStrings,
    sizeof kStrings / sizeof kStrings[0],
};

// Loads the type library carried by a DLL with the platform's own loader and
// prints its name, version, locale and GUID, one per line.
#include <windows.h>
#include <oleauto.h>

#include <cstdio>

int wmain(int argc, wchar_t** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: typelib_probe PATH\n");
        return 2;
    }
    CoInitialize(nullptr);
    ITypeLib* lib = nullptr;
    HRESULT hr = LoadTypeLibEx(argv[1], REGKIND_NONE, &lib);
    if (FAILED(hr)) {
        std::fprintf(stderr, "LoadTypeLibEx failed: 0x%08lx\n", static_cast<unsigned long>(hr));
        return 1;
    }
    BSTR name = nullptr;
    BSTR doc = nullptr;
    lib->GetDocumentation(-1, &name, &doc, nullptr, nullptr);
    TLIBATTR* attr = nullptr;
    lib->GetLibAttr(&attr);
    wchar_t guid[64];
    StringFromGUID2(attr->guid, guid, 64);
    std::printf("name %ls\nhelp %ls\nversion %u.%u\nlcid 0x%lx\nguid %ls\n", name, doc,
                attr->wMajorVerNum, attr->wMinorVerNum, static_cast<unsigned long>(attr->lcid),
                guid);
    lib->ReleaseTLibAttr(attr);
    SysFreeString(name);
    SysFreeString(doc);
    lib->Release();
    CoUninitialize();
    return 0;
}

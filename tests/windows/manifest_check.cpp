// Reads the application manifest back out of a built executable where
// Windows' loader looks for it (resource 1 of type RT_MANIFEST) and checks
// what it asks for. Without it Windows runs the tool as a legacy program and,
// for a standard user in a protected folder, silently redirects its writes;
// Wine never does, so the manifest's presence and content are what a test
// here can see. Comments are taken out first: a level only written in one
// does not count.
#include <windows.h>

#include <cstdio>
#include <string>
#include <string_view>

int main(int argc, char** argv) {
    if (argc != 2) {
        std::printf("usage: manifest_check EXECUTABLE\n");
        return 2;
    }
    HMODULE module = LoadLibraryExA(argv[1], nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    HRSRC resource = module == nullptr ? nullptr : FindResourceW(module, MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(24));
    HGLOBAL loaded = resource == nullptr ? nullptr : LoadResource(module, resource);
    const void* bytes = loaded == nullptr ? nullptr : LockResource(loaded);
    if (bytes == nullptr) {
        std::printf("FAILED: no manifest (resource 1 of type RT_MANIFEST) in %s\n0 passed, 1 failed\n", argv[1]);
        return 1;
    }
    std::string text(static_cast<const char*>(bytes), SizeofResource(module, resource));
    FreeLibrary(module);
    for (std::size_t open; (open = text.find("<!--")) != std::string::npos;) {
        const std::size_t close = text.find("-->", open);
        text.erase(open, close == std::string::npos ? std::string::npos : close + 3 - open);
    }
    int failures = 0;
    constexpr std::string_view kWanted[] = {
        R"(<trustInfo xmlns="urn:schemas-microsoft-com:asm.v3">)",
        R"(<requestedExecutionLevel level="asInvoker" uiAccess="false"/>)",
        R"(<compatibility xmlns="urn:schemas-microsoft-com:compatibility.v1">)",
        R"(<supportedOS Id="{35138b9a-5d96-4fbd-8e2d-a2440225f93a}"/>)",  // Windows 7
        R"(<supportedOS Id="{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}"/>)",  // Windows 8
        R"(<supportedOS Id="{1f676c76-80e1-4239-95bb-83d0f6d0da78}"/>)",  // Windows 8.1
        R"(<supportedOS Id="{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}"/>)",  // Windows 10 and 11
    };
    for (const std::string_view wanted : kWanted) {
        const bool found = text.find(wanted) != std::string::npos;
        std::printf("%s: %.*s\n", found ? "ok" : "FAILED", static_cast<int>(wanted.size()), wanted.data());
        failures += found ? 0 : 1;
    }
    const bool oneLevel = text.find("requestedExecutionLevel") == text.rfind("requestedExecutionLevel");
    std::printf("%s: one requestedExecutionLevel\n", oneLevel ? "ok" : "FAILED");
    failures += oneLevel ? 0 : 1;
    std::printf("%d passed, %d failed\n", static_cast<int>(std::size(kWanted)) + 1 - failures, failures);
    return failures == 0 ? 0 : 1;
}

// Reads the application manifest back out of a built executable where
// Windows' loader looks for it (resource 1 of type RT_MANIFEST) and checks
// what it asks for. Without it Windows runs the tool as a legacy program and,
// for a standard user in a protected folder, silently redirects its writes;
// Wine never does, so the manifest's presence and content are what a test
// here can see. The text is read as XML elements, not searched for words: a
// level written in a comment or under the wrong element does not count.
#include <windows.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <map>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace {

constexpr std::string_view kAssemblyNamespace = "urn:schemas-microsoft-com:asm.v1";
constexpr std::string_view kTrustNamespace = "urn:schemas-microsoft-com:asm.v3";
constexpr std::string_view kCompatibilityNamespace = "urn:schemas-microsoft-com:compatibility.v1";

// Windows 7, 8, 8.1, and 10 and 11.
const std::set<std::string> kSupportedOsIds = {
    "{35138b9a-5d96-4fbd-8e2d-a2440225f93a}",
    "{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}",
    "{1f676c76-80e1-4239-95bb-83d0f6d0da78}",
    "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}",
};

// One element: its name without a prefix, its namespace, its attributes and
// the names of the elements around it, outermost first, joined by '/'.
struct Element {
    std::string name;
    std::string xmlNamespace;
    std::map<std::string, std::string> attributes;
    std::string parents;
};

bool IsSpace(char c) {
    return std::isspace(static_cast<unsigned char>(c)) != 0;
}

// The namespace a prefixed or plain name is in, from its own element's
// declarations outwards.
std::string NamespaceOf(const std::string& qualifiedName, const std::vector<Element>& open, const Element& element) {
    const auto colon = qualifiedName.find(':');
    const std::string key = colon == std::string::npos ? "xmlns" : "xmlns:" + qualifiedName.substr(0, colon);
    if (const auto found = element.attributes.find(key); found != element.attributes.end()) {
        return found->second;
    }
    for (auto outer = open.rbegin(); outer != open.rend(); ++outer) {
        if (const auto found = outer->attributes.find(key); found != outer->attributes.end()) {
            return found->second;
        }
    }
    return {};
}

// The elements of `text` in document order, or nothing with `error` set when
// the text is not a well-nested document of elements, comments and a
// declaration (all a manifest holds).
std::vector<Element> ReadElements(std::string_view text, std::string& error) {
    std::vector<Element> elements;
    std::vector<Element> open;
    std::vector<std::string> openNames;  // as written, prefix included, for the end tags
    std::size_t at = 0;
    const auto fail = [&](const std::string& why) {
        error = why + " at byte " + std::to_string(at);
        return std::vector<Element>{};
    };
    const auto readName = [&] {
        const std::size_t start = at;
        while (at < text.size() && !IsSpace(text[at]) && text[at] != '/' && text[at] != '>' && text[at] != '=') {
            ++at;
        }
        return std::string(text.substr(start, at - start));
    };
    const auto skipSpace = [&] {
        while (at < text.size() && IsSpace(text[at])) {
            ++at;
        }
    };
    while ((at = text.find('<', at)) != std::string_view::npos) {
        if (text.substr(at, 4) == "<!--" || text.substr(at, 2) == "<?") {
            const std::string_view end = text[at + 1] == '!' ? "-->" : "?>";
            const auto close = text.find(end, at);
            if (close == std::string_view::npos) {
                return fail("an unterminated comment or declaration");
            }
            at = close + end.size();
            continue;
        }
        if (text.substr(at, 2) == "</") {
            at += 2;
            const std::string name = readName();
            skipSpace();
            if (openNames.empty() || openNames.back() != name || at >= text.size() || text[at] != '>') {
                return fail("an end tag </" + name + "> that closes nothing open");
            }
            open.pop_back();
            openNames.pop_back();
            ++at;
            continue;
        }
        ++at;
        const std::string qualifiedName = readName();
        if (qualifiedName.empty()) {
            return fail("a tag without a name");
        }
        Element element;
        for (const auto& outer : open) {
            element.parents += (element.parents.empty() ? "" : "/") + outer.name;
        }
        for (skipSpace(); at < text.size() && text[at] != '/' && text[at] != '>'; skipSpace()) {
            const std::string attribute = readName();
            skipSpace();
            if (attribute.empty() || at >= text.size() || text[at] != '=') {
                return fail("an attribute without a value");
            }
            ++at;
            skipSpace();
            const char quote = at < text.size() ? text[at] : '\0';
            const auto close = quote == '"' || quote == '\'' ? text.find(quote, at + 1) : std::string_view::npos;
            if (close == std::string_view::npos) {
                return fail("an unquoted attribute value");
            }
            element.attributes[attribute] = std::string(text.substr(at + 1, close - at - 1));
            at = close + 1;
        }
        const bool empty = text.substr(at, 2) == "/>";
        if (!empty && (at >= text.size() || text[at] != '>')) {
            return fail("an unterminated tag <" + qualifiedName);
        }
        at += empty ? 2 : 1;
        const auto colon = qualifiedName.find(':');
        element.name = colon == std::string::npos ? qualifiedName : qualifiedName.substr(colon + 1);
        element.xmlNamespace = NamespaceOf(qualifiedName, open, element);
        elements.push_back(element);
        if (!empty) {
            open.push_back(element);
            openNames.push_back(qualifiedName);
        }
    }
    if (!open.empty()) {
        at = text.size();
        return fail("<" + openNames.back() + "> never closed");
    }
    return elements;
}

std::string Attribute(const Element& element, const std::string& name) {
    const auto found = element.attributes.find(name);
    return found == element.attributes.end() ? std::string() : found->second;
}

std::string Lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](char c) { return static_cast<char>(std::tolower(static_cast<unsigned char>(c))); });
    return text;
}

BOOL CALLBACK CollectName(HMODULE /*module*/, LPCWSTR /*type*/, LPWSTR name, LONG_PTR names) {
    reinterpret_cast<std::vector<ULONG_PTR>*>(names)->push_back(IS_INTRESOURCE(name) ? reinterpret_cast<ULONG_PTR>(name)
                                                                                     : ~ULONG_PTR{0});
    return TRUE;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::printf("usage: manifest_check EXECUTABLE\n");
        return 2;
    }
    // A full path, so that the loader searches nowhere else for a file of
    // that name.
    wchar_t named[MAX_PATH] = {};
    wchar_t path[MAX_PATH] = {};
    if (MultiByteToWideChar(CP_ACP, 0, argv[1], -1, named, MAX_PATH) == 0 ||
        GetFullPathNameW(named, MAX_PATH, path, nullptr) == 0) {
        std::printf("FAILED: cannot make a path of %s\n", argv[1]);
        return 1;
    }
    HMODULE module = LoadLibraryExW(path, nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    if (module == nullptr) {
        std::printf("FAILED: cannot open %s as an image\n", argv[1]);
        return 1;
    }
    std::vector<ULONG_PTR> names;
    EnumResourceNamesW(module, MAKEINTRESOURCEW(24), CollectName, reinterpret_cast<LONG_PTR>(&names));
    HRSRC resource = FindResourceW(module, MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(24));
    HGLOBAL loaded = resource == nullptr ? nullptr : LoadResource(module, resource);
    const void* bytes = loaded == nullptr ? nullptr : LockResource(loaded);
    if (bytes == nullptr) {
        std::printf("FAILED: no manifest (resource 1 of type RT_MANIFEST) in %s\n0 passed, 1 failed\n", argv[1]);
        FreeLibrary(module);
        return 1;
    }
    std::string text(static_cast<const char*>(bytes), SizeofResource(module, resource));
    FreeLibrary(module);
    if (text.starts_with("\xEF\xBB\xBF")) {
        text.erase(0, 3);
    }

    int failures = 0;
    int checks = 0;
    const auto check = [&failures, &checks](bool passed, const std::string& what) {
        std::printf("%s: %s\n", passed ? "ok" : "FAILED", what.c_str());
        failures += passed ? 0 : 1;
        ++checks;
    };
    check(names == std::vector<ULONG_PTR>{1}, "the manifest is the executable's only one, resource 1");
    std::string error;
    const std::vector<Element> elements = ReadElements(text, error);
    check(!elements.empty(), error.empty() ? "the manifest reads as XML" : "the manifest reads as XML: " + error);

    check(!elements.empty() && elements[0].name == "assembly" && elements[0].xmlNamespace == kAssemblyNamespace &&
              Attribute(elements[0], "manifestVersion") == "1.0",
          "its root is an assembly, manifest version 1.0");

    std::vector<const Element*> levels;
    std::set<std::string> osIds;
    int osEntries = 0;
    for (const auto& element : elements) {
        if (element.name == "requestedExecutionLevel") {
            levels.push_back(&element);
        } else if (element.name == "supportedOS") {
            ++osEntries;
            if (element.parents == "assembly/compatibility/application" &&
                element.xmlNamespace == kCompatibilityNamespace) {
                osIds.insert(Lower(Attribute(element, "Id")));
            }
        }
    }
    check(levels.size() == 1 && levels[0]->parents == "assembly/trustInfo/security/requestedPrivileges" &&
              levels[0]->xmlNamespace == kTrustNamespace,
          "one requestedExecutionLevel, in trustInfo (asm.v3)");
    check(levels.size() == 1 && Attribute(*levels[0], "level") == "asInvoker" &&
              Attribute(*levels[0], "uiAccess") == "false",
          "the level is asInvoker, without uiAccess");
    check(osIds == kSupportedOsIds && osEntries == 4,
          "compatibility names Windows 7, 8, 8.1, and 10 and 11, each once and nothing else");
    std::printf("%d passed, %d failed\n", checks - failures, failures);
    return failures == 0 ? 0 : 1;
}

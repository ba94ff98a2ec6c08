#include "settings/xml_settings.h"

#include <cstdarg>
#include <cstdio>

#include "platform/system.h"
#include "platform/xml_document.h"

namespace norvane {

namespace {

std::string FormatPath(const char* format, va_list args) {
    char path[CXMLSettingsAPI::MAX_PATH_CHARS + 1];
    if (!format || std::vsnprintf(path, sizeof path, format, args) < 0)
        return {};
    return path;
}

// Declares `va_list` formatting of a path argument list in one line.
#define TAVRIN_FORMAT_PATH(name, format)               \
    va_list args;                                      \
    va_start(args, format);                            \
    const std::string name = FormatPath(format, args); \
    va_end(args)

}  // namespace

CXMLSettingsAPI::CXMLSettingsAPI() = default;

CXMLSettingsAPI::~CXMLSettingsAPI() {
    ReleaseDocument();
    CLockGuard guard(openLock);
    document.reset();
}

std::string CXMLSettingsAPI::FullPath(const std::string& fileName) const {
    std::string directory = baseDirectory.empty() ? platform::ExecutableDirectory() : baseDirectory;
    if (directory.empty() || directory.back() != '/')
        directory += '/';
    return directory + fileName;
}

bool CXMLSettingsAPI::IsOpen() {
    CLockGuard guard(openLock);
    return openCount > 0;
}

int CXMLSettingsAPI::LoadDocument(const std::string& fileName) {
    CLockGuard guard(openLock);
    if (openCount > 0) {
        ++openCount;
        return RESULT_OK;
    }
    const std::string path = FullPath(fileName);
    if (fileName.empty() || platform::FileSize(path) <= 0)
        return RESULT_FAIL;
    filePath = path;
    saveAfterChange = false;
    auto loaded = std::make_unique<platform::XmlDocument>();
    if (!loaded->Load(path))
        return RESULT_FAIL;
    CLockGuard documentGuard(documentLock);
    document = std::move(loaded);
    openCount = 1;
    return RESULT_OK;
}

int CXMLSettingsAPI::ReleaseDocument() {
    CLockGuard guard(openLock);
    if (openCount > 0 && --openCount == 0) {
        CLockGuard documentGuard(documentLock);
        document.reset();
    }
    return openCount;
}

bool CXMLSettingsAPI::SaveDocument() {
    CLockGuard guard(documentLock);
    return document && document->Save(filePath);
}

int CXMLSettingsAPI::Saved(int result) {
    return result && saveAfterChange ? SaveDocument() : result;
}

std::u16string CXMLSettingsAPI::GetValue(const char* format, ...) {
    TAVRIN_FORMAT_PATH(path, format);
    CLockGuard guard(documentLock);
    if (!document || path.empty())
        return {};
    return platform::Utf8ToUtf16(document->GetAttribute(path, "value"));
}

int CXMLSettingsAPI::SetValue(const std::u16string& value, const char* format, ...) {
    TAVRIN_FORMAT_PATH(path, format);
    CLockGuard guard(documentLock);
    if (!document || path.empty())
        return 0;
    if (!document->HasNode(path) && !CreatePath(path))
        return 0;
    return Saved(document->SetAttribute(path, "value", platform::Utf16ToUtf8(value)) ? 1 : 0);
}

// Creates the last step of `path` below its parent, creating the parent first when missing;
// the first step names the existing root element. A bracketed condition on a step is left out
// of the created element's name.
bool CXMLSettingsAPI::CreatePath(const std::string& path) {
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos || slash == 0)
        return false;
    const std::string parent = path.substr(0, slash);
    std::string name = path.substr(slash + 1);
    name = name.substr(0, name.find('['));
    if (!document->HasNode(parent) && !CreatePath(parent))
        return false;
    unsigned depth = 0;
    for (char c : parent)
        depth += c == '/';
    return document->AppendElement(parent, name, depth + 1);
}

int CXMLSettingsAPI::HasNode(const char* format, ...) {
    TAVRIN_FORMAT_PATH(path, format);
    CLockGuard guard(documentLock);
    return document && !path.empty() && document->HasNode(path) ? 1 : 0;
}

int CXMLSettingsAPI::RemoveNode(const char* format, ...) {
    TAVRIN_FORMAT_PATH(path, format);
    CLockGuard guard(documentLock);
    if (!document || path.empty())
        return 0;
    return Saved(document->RemoveNode(path) ? 1 : 0);
}

int CXMLSettingsAPI::CreateDocumentFile(const std::string& rootName, const std::string& fileName) {
    platform::XmlDocument created;
    if (!created.Create(rootName))
        return -1;
    return created.Save(FullPath(fileName)) ? 1 : 0;
}

}  // namespace norvane

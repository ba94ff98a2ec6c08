#include "driver/xml_parser.h"

#include <new>

#include "platform/system.h"
#include "platform/xml_document.h"

namespace norvane {

CXmlParser::CXmlParser() = default;

CXmlParser::~CXmlParser() { Unload(); }

std::string CXmlParser::ResolvePath(const std::string& fileName) {
    if (fileName.empty())
        return {};
    if (baseDirectory.empty())
        baseDirectory = platform::ExecutableDirectory();
    std::string path = baseDirectory;
    if (path.empty() || path.back() != '/')
        path += '/';
    return path + fileName;
}

bool CXmlParser::Load(const std::string& fileName) {
    const std::string path = ResolvePath(fileName);
    if (path.empty() || !platform::FileExists(path))
        return false;
    CLockGuard guard(lock);
    if (loaded)
        return true;
    try {
        document.reset(new (std::nothrow) platform::XmlDocument());
        if (document && document->Load(path))
            loaded = true;
        else
            document.reset();
    } catch (...) {
        document.reset();
        loaded = false;
    }
    return loaded;
}

std::string CXmlParser::SelectNodeText(const std::string& xpath) {
    CLockGuard guard(lock);
    if (!loaded)
        return {};
    try {
        return document->SelectNodeFirstChildValue(xpath);
    } catch (...) {
        // An address holding XPath syntax makes the expression invalid: no match.
        return {};
    }
}

void CXmlParser::Unload() {
    CLockGuard guard(lock);
    if (!loaded)
        return;
    document.reset();
    loaded = false;
}

}  // namespace norvane

// Reader of one XML file beside the host's executable.
#pragma once

#include <memory>
#include <string>

#include "foundation/lock.h"

namespace norvane {

namespace platform {
class XmlDocument;
}

class CXmlParser {
public:
    CXmlParser();
    ~CXmlParser();
    CXmlParser(const CXmlParser&) = delete;
    CXmlParser& operator=(const CXmlParser&) = delete;

    // Loads `fileName` from the executable's directory; false if absent or unreadable.
    bool Load(const std::string& fileName);
    // Value of the first child of the single node matching `xpath`; empty on any failure.
    std::string SelectNodeText(const std::string& xpath);
    void Unload();

    // Tests point the parser at another directory than the executable's.
    void SetBaseDirectory(const std::string& directory) { baseDirectory = directory; }

private:
    std::string ResolvePath(const std::string& fileName);

    CLock lock;
    std::unique_ptr<platform::XmlDocument> document;  // null when not loaded
    bool loaded = false;
    std::string baseDirectory;
};

}  // namespace norvane

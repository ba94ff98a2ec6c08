// XML document object with XPath single-node selection (the DOM the settings readers use).
#pragma once

#include <memory>
#include <stdexcept>
#include <string>

namespace norvane::platform {

// A failing DOM call.
class XmlError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class XmlDocument {
public:
    XmlDocument();
    ~XmlDocument();
    XmlDocument(const XmlDocument&) = delete;
    XmlDocument& operator=(const XmlDocument&) = delete;

    // Synchronous load keeping whitespace-only text; false on a missing or malformed file.
    bool Load(const std::string& path);
    // Value of the first child of the single node matching `xpath`; empty when nothing matches
    // or the node has no child. Throws XmlError on an invalid expression.
    std::string SelectNodeFirstChildValue(const std::string& xpath) const;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace norvane::platform

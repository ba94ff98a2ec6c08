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

// Expressions are XPath 1.0, evaluated from the document node. Every operation taking one
// throws XmlError when the expression is invalid.
class XmlDocument {
public:
    XmlDocument();
    ~XmlDocument();
    XmlDocument(const XmlDocument&) = delete;
    XmlDocument& operator=(const XmlDocument&) = delete;

    // Synchronous load keeping whitespace-only text and the declaration; false on a missing or
    // malformed file.
    bool Load(const std::string& path);
    // Parses `text` as Load parses a file.
    bool LoadText(const std::string& text);
    // Replaces the content by the declaration version='1.0' encoding='utf-8' and an empty root
    // element; false when `rootName` is not an element name or memory runs out.
    bool Create(const std::string& rootName);
    // Writes the document whole or not at all: a crash during the save leaves the old file.
    bool Save(const std::string& path) const;
    // The document as Save writes it.
    std::string Text() const;

    // Value of the first child of the single node matching `xpath`; empty when nothing matches
    // or the node has no child.
    std::string SelectNodeFirstChildValue(const std::string& xpath) const;
    bool HasNode(const std::string& xpath) const;
    // Attribute of the single element matching `xpath`; empty when either is missing.
    std::string GetAttribute(const std::string& xpath, const std::string& name) const;
    // Sets the attribute of the single element matching `xpath`, reusing it when present;
    // false when no element matches.
    bool SetAttribute(const std::string& xpath, const std::string& name, const std::string& value);
    // Appends an element to the single element matching `parentXpath`, on a line of its own
    // indented by `depth` tabs, so that the parent's closing tag stays on its own line.
    bool AppendElement(const std::string& parentXpath, const std::string& name, unsigned depth);
    // Removes the single node matching `xpath` (with the line break before it).
    bool RemoveNode(const std::string& xpath);

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace norvane::platform

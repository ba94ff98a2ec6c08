#include "platform/xml_document.h"

#include <cstring>
#include <pugixml.hpp>
#include <sstream>

#include "platform/system.h"

namespace norvane::platform {

namespace {

constexpr unsigned kParseOptions =
    pugi::parse_default | pugi::parse_ws_pcdata | pugi::parse_declaration;
constexpr unsigned kSaveOptions =
    pugi::format_raw | pugi::format_no_declaration | pugi::format_attribute_single_quote;

// A line break followed by `depth` tabs.
std::string LineIndent(unsigned depth) {
    std::string text(1, '\n');
    text.append(depth, '\t');
    return text;
}

bool IsBlank(const pugi::xml_node& node) {
    if (node.type() != pugi::node_pcdata)
        return false;
    for (const char* c = node.value(); *c; ++c)
        if (!std::strchr(" \t\r\n", *c))
            return false;
    return true;
}

pugi::xml_node InsertText(pugi::xml_node parent, const pugi::xml_node& before,
                          const std::string& text) {
    pugi::xml_node node = before ? parent.insert_child_before(pugi::node_pcdata, before)
                                 : parent.append_child(pugi::node_pcdata);
    if (node)
        node.set_value(text.c_str());
    return node;
}

}  // namespace

struct XmlDocument::Impl {
    pugi::xml_document document;

    pugi::xml_node Select(const std::string& xpath) const {
        try {
            return document.select_node(xpath.c_str()).node();
        } catch (const pugi::xpath_exception& e) {
            throw XmlError(e.what());
        }
    }
};

XmlDocument::XmlDocument() : impl_(std::make_unique<Impl>()) {}
XmlDocument::~XmlDocument() = default;

bool XmlDocument::Load(const std::string& path) {
    return static_cast<bool>(impl_->document.load_file(path.c_str(), kParseOptions));
}

bool XmlDocument::LoadText(const std::string& text) {
    return static_cast<bool>(impl_->document.load_buffer(text.data(), text.size(), kParseOptions));
}

bool XmlDocument::Create(const std::string& rootName) {
    pugi::xml_document& document = impl_->document;
    document.reset();
    pugi::xml_node declaration = document.append_child(pugi::node_declaration);
    const bool made = declaration && declaration.append_attribute("version").set_value("1.0") &&
                      declaration.append_attribute("encoding").set_value("utf-8") &&
                      !rootName.empty() && document.append_child(rootName.c_str());
    if (!made)
        document.reset();
    return made;
}

std::string XmlDocument::Text() const {
    std::ostringstream out;
    for (const pugi::xml_node& node : impl_->document.children()) {
        if (node.type() == pugi::node_declaration) {
            out << "<?xml";
            for (const pugi::xml_attribute& a : node.attributes())
                out << ' ' << a.name() << "='" << a.value() << '\'';
            out << "?>\n";
        } else {
            node.print(out, "", kSaveOptions);
        }
    }
    return out.str();
}

bool XmlDocument::Save(const std::string& path) const {
    return WriteFileAtomically(path, Text());
}

std::string XmlDocument::SelectNodeFirstChildValue(const std::string& xpath) const {
    const pugi::xml_node node = impl_->Select(xpath);
    if (!node)
        return {};
    const pugi::xml_node child = node.first_child();
    return child ? child.value() : std::string();
}

bool XmlDocument::HasNode(const std::string& xpath) const {
    return static_cast<bool>(impl_->Select(xpath));
}

std::string XmlDocument::GetAttribute(const std::string& xpath, const std::string& name) const {
    return impl_->Select(xpath).attribute(name.c_str()).value();
}

bool XmlDocument::SetAttribute(const std::string& xpath, const std::string& name,
                               const std::string& value) {
    pugi::xml_node node = impl_->Select(xpath);
    if (node.type() != pugi::node_element)
        return false;
    pugi::xml_attribute attribute = node.attribute(name.c_str());
    if (!attribute)
        attribute = node.append_attribute(name.c_str());
    return attribute && attribute.set_value(value.c_str());
}

bool XmlDocument::AppendElement(const std::string& parentXpath, const std::string& name,
                                unsigned depth) {
    pugi::xml_node parent = impl_->Select(parentXpath);
    if (parent.type() != pugi::node_element || name.empty())
        return false;
    pugi::xml_node closing = parent.last_child();
    if (!IsBlank(closing)) {
        closing = InsertText(parent, pugi::xml_node(), LineIndent(depth ? depth - 1 : 0));
        if (!closing)
            return false;
    }
    return InsertText(parent, closing, LineIndent(depth)) &&
           parent.insert_child_before(name.c_str(), closing);
}

bool XmlDocument::RemoveNode(const std::string& xpath) {
    pugi::xml_node node = impl_->Select(xpath);
    pugi::xml_node parent = node.parent();
    if (!node || !parent)
        return false;
    const pugi::xml_node before = node.previous_sibling();
    if (IsBlank(before))
        parent.remove_child(before);
    return parent.remove_child(node);
}

}  // namespace norvane::platform

#include "platform/xml_document.h"

#include <pugixml.hpp>

namespace norvane::platform {

struct XmlDocument::Impl {
    pugi::xml_document document;
};

XmlDocument::XmlDocument() : impl_(std::make_unique<Impl>()) {}
XmlDocument::~XmlDocument() = default;

bool XmlDocument::Load(const std::string& path) {
    const pugi::xml_parse_result result = impl_->document.load_file(
        path.c_str(), pugi::parse_default | pugi::parse_ws_pcdata);
    return static_cast<bool>(result);
}

std::string XmlDocument::SelectNodeFirstChildValue(const std::string& xpath) const {
    pugi::xpath_node match;
    try {
        match = impl_->document.select_node(xpath.c_str());
    } catch (const pugi::xpath_exception& e) {
        throw XmlError(e.what());
    }
    const pugi::xml_node node = match.node();
    if (!node)
        return {};
    const pugi::xml_node child = node.first_child();
    return child ? child.value() : std::string();
}

}  // namespace norvane::platform

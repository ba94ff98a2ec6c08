#include "platform/xml_document.h"

#include <objbase.h>
#include <msxml2.h>
#include <windows.h>

#include <utility>

#include "platform/system.h"

namespace norvane::platform {

namespace {

// MSXML 3.0 document class and the interface with setProperty.
constexpr CLSID DOM_DOCUMENT_30 = {0xf5078f32, 0xc551, 0x11d3, {0x89, 0xb9, 0x00, 0x00, 0xf8, 0x1f, 0xe2, 0x21}};
constexpr IID IID_DOM_DOCUMENT_2 = {0x2933bf95, 0x7b36, 0x11d2, {0xb2, 0x0e, 0x00, 0xc0, 0x4f, 0x98, 0x3e, 0x60}};

// Owning pointer to a COM interface.
template <class T>
class Com {
public:
    Com() = default;
    ~Com() { Reset(); }
    Com(Com&& other) noexcept : p_(std::exchange(other.p_, nullptr)) {}
    Com& operator=(Com&& other) noexcept {
        if (this != &other) {
            Reset();
            p_ = std::exchange(other.p_, nullptr);
        }
        return *this;
    }
    Com(const Com&) = delete;
    Com& operator=(const Com&) = delete;

    T* operator->() const { return p_; }
    T* Get() const { return p_; }
    T** Out() {
        Reset();
        return &p_;
    }
    explicit operator bool() const { return p_ != nullptr; }
    void Reset() {
        if (p_)
            p_->Release();
        p_ = nullptr;
    }

private:
    T* p_ = nullptr;
};

// Owned BSTR.
class Bstr {
public:
    explicit Bstr(const std::string& text) {
        const std::u16string wide = Utf8ToUtf16(text);
        value_ = SysAllocStringLen(reinterpret_cast<const OLECHAR*>(wide.data()),
                                   static_cast<UINT>(wide.size()));
    }
    Bstr() = default;
    ~Bstr() { SysFreeString(value_); }
    Bstr(const Bstr&) = delete;
    Bstr& operator=(const Bstr&) = delete;

    BSTR Get() const { return value_; }
    // Gives the string up to a VARIANT, which frees it.
    BSTR Release() { return std::exchange(value_, nullptr); }
    BSTR* Out() {
        SysFreeString(value_);
        value_ = nullptr;
        return &value_;
    }
    std::string Text() const {
        if (!value_)
            return {};
        const auto* data = reinterpret_cast<const char16_t*>(value_);
        return Utf16ToUtf8(std::u16string(data, SysStringLen(value_)));
    }

private:
    BSTR value_ = nullptr;
};

std::string VariantText(VARIANT& value) {
    std::string text;
    if (value.vt == VT_BSTR && value.bstrVal)
        text = Utf16ToUtf8(std::u16string(reinterpret_cast<const char16_t*>(value.bstrVal),
                                          SysStringLen(value.bstrVal)));
    VariantClear(&value);
    return text;
}

// Keeps the process's multithreaded apartment alive for good, so any thread may use the
// documents and no thread's COM clean-up unloads MSXML under them. Windows 8 and later.
bool EnsureCom() {
    static const bool ready = [] {
        using Increment = HRESULT(WINAPI*)(CO_MTA_USAGE_COOKIE*);
        const HMODULE ole = GetModuleHandleA("ole32.dll");
        const auto increment =
            ole ? reinterpret_cast<Increment>(
                      reinterpret_cast<void*>(GetProcAddress(ole, "CoIncrementMTAUsage")))
                : nullptr;
        CO_MTA_USAGE_COOKIE cookie = nullptr;
        return increment && SUCCEEDED(increment(&cookie));
    }();
    return ready;
}

std::string LineIndent(unsigned depth) {
    std::string text(1, '\n');
    text.append(depth, '\t');
    return text;
}

bool IsBlank(IXMLDOMNode* node) {
    DOMNodeType type = NODE_INVALID;
    if (!node || FAILED(node->get_nodeType(&type)) || type != NODE_TEXT)
        return false;
    VARIANT value;
    VariantInit(&value);
    if (FAILED(node->get_nodeValue(&value)))
        return false;
    return VariantText(value).find_first_not_of(" \t\r\n") == std::string::npos;
}

}  // namespace

struct XmlDocument::Impl {
    Com<IXMLDOMDocument2> document;

    // A fresh, empty document; false when MSXML 3.0 is not available.
    bool Renew() {
        document.Reset();
        if (!EnsureCom() ||
            FAILED(CoCreateInstance(DOM_DOCUMENT_30, nullptr, CLSCTX_INPROC_SERVER, IID_DOM_DOCUMENT_2,
                                    reinterpret_cast<void**>(document.Out()))))
            return false;
        VARIANT xpath;
        VariantInit(&xpath);
        xpath.vt = VT_BSTR;
        xpath.bstrVal = Bstr("XPath").Release();  // MSXML 3.0 selects with XSL patterns otherwise
        const bool ready = SUCCEEDED(document->put_async(VARIANT_FALSE)) &&
                           SUCCEEDED(document->put_preserveWhiteSpace(VARIANT_TRUE)) &&
                           SUCCEEDED(document->setProperty(Bstr("SelectionLanguage").Get(), xpath));
        VariantClear(&xpath);
        if (!ready)
            document.Reset();
        return ready;
    }

    Com<IXMLDOMNode> Select(const std::string& xpath) const {
        Com<IXMLDOMNode> node;
        if (!document)
            return node;
        const HRESULT result = document->selectSingleNode(Bstr(xpath).Get(), node.Out());
        if (FAILED(result))
            throw XmlError("invalid XPath expression: " + xpath);
        return node;
    }

    Com<IXMLDOMElement> SelectElement(const std::string& xpath) const {
        Com<IXMLDOMElement> element;
        const Com<IXMLDOMNode> node = Select(xpath);
        if (node)
            node->QueryInterface(IID_IXMLDOMElement, reinterpret_cast<void**>(element.Out()));
        return element;
    }

    Com<IXMLDOMNode> NewText(const std::string& text) const {
        Com<IXMLDOMText> created;
        Com<IXMLDOMNode> node;
        if (SUCCEEDED(document->createTextNode(Bstr(text).Get(), created.Out())))
            created->QueryInterface(IID_IXMLDOMNode, reinterpret_cast<void**>(node.Out()));
        return node;
    }
};

XmlDocument::XmlDocument() : impl_(std::make_unique<Impl>()) { impl_->Renew(); }
XmlDocument::~XmlDocument() = default;

bool XmlDocument::Load(const std::string& path) {
    if (!impl_->Renew())
        return false;
    VARIANT source;
    VariantInit(&source);
    source.vt = VT_BSTR;
    source.bstrVal = Bstr(path).Release();
    VARIANT_BOOL loaded = VARIANT_FALSE;
    const HRESULT result = impl_->document->load(source, &loaded);
    VariantClear(&source);
    return SUCCEEDED(result) && loaded == VARIANT_TRUE;
}

bool XmlDocument::LoadText(const std::string& text) {
    VARIANT_BOOL loaded = VARIANT_FALSE;
    return impl_->Renew() && SUCCEEDED(impl_->document->loadXML(Bstr(text).Get(), &loaded)) &&
           loaded == VARIANT_TRUE;
}

bool XmlDocument::Create(const std::string& rootName) {
    if (!impl_->Renew())
        return false;
    IXMLDOMDocument2* document = impl_->document.Get();
    Com<IXMLDOMProcessingInstruction> declaration;
    Com<IXMLDOMElement> root;
    Com<IXMLDOMNode> added;
    const bool made =
        !rootName.empty() &&
        SUCCEEDED(document->createProcessingInstruction(
            Bstr("xml").Get(), Bstr("version='1.0' encoding='utf-8'").Get(), declaration.Out())) &&
        SUCCEEDED(document->appendChild(declaration.Get(), added.Out())) &&
        SUCCEEDED(document->createElement(Bstr(rootName).Get(), root.Out())) &&
        SUCCEEDED(document->appendChild(root.Get(), added.Out()));
    if (!made)
        impl_->Renew();
    return made;
}

std::string XmlDocument::Text() const {
    Bstr text;
    if (!impl_->document || FAILED(impl_->document->get_xml(text.Out())))
        return {};
    return text.Text();
}

bool XmlDocument::Save(const std::string& path) const {
    return impl_->document && WriteFileAtomically(path, Text());
}

std::string XmlDocument::SelectNodeFirstChildValue(const std::string& xpath) const {
    const Com<IXMLDOMNode> node = impl_->Select(xpath);
    Com<IXMLDOMNode> child;
    if (!node || node->get_firstChild(child.Out()) != S_OK || !child)
        return {};
    VARIANT value;
    VariantInit(&value);
    if (FAILED(child->get_nodeValue(&value)))
        return {};
    return VariantText(value);
}

bool XmlDocument::HasNode(const std::string& xpath) const {
    return static_cast<bool>(impl_->Select(xpath));
}

std::string XmlDocument::GetAttribute(const std::string& xpath, const std::string& name) const {
    const Com<IXMLDOMElement> element = impl_->SelectElement(xpath);
    VARIANT value;
    VariantInit(&value);
    if (!element || element->getAttribute(Bstr(name).Get(), &value) != S_OK)
        return {};
    return VariantText(value);
}

bool XmlDocument::SetAttribute(const std::string& xpath, const std::string& name,
                               const std::string& value) {
    const Com<IXMLDOMElement> element = impl_->SelectElement(xpath);
    if (!element)
        return false;
    VARIANT text;
    VariantInit(&text);
    text.vt = VT_BSTR;
    text.bstrVal = Bstr(value).Release();
    const HRESULT result = element->setAttribute(Bstr(name).Get(), text);
    VariantClear(&text);
    return SUCCEEDED(result);
}

bool XmlDocument::AppendElement(const std::string& parentXpath, const std::string& name,
                                unsigned depth) {
    const Com<IXMLDOMElement> parentElement = impl_->SelectElement(parentXpath);
    Com<IXMLDOMNode> parent;
    if (!parentElement || name.empty() ||
        FAILED(parentElement->QueryInterface(IID_IXMLDOMNode, reinterpret_cast<void**>(parent.Out()))))
        return false;
    Com<IXMLDOMNode> closing;
    Com<IXMLDOMNode> added;
    parent->get_lastChild(closing.Out());
    if (!IsBlank(closing.Get())) {
        Com<IXMLDOMNode> text = impl_->NewText(LineIndent(depth ? depth - 1 : 0));
        if (!text || FAILED(parent->appendChild(text.Get(), closing.Out())))
            return false;
    }
    VARIANT before;
    VariantInit(&before);
    before.vt = VT_UNKNOWN;
    before.punkVal = closing.Get();  // not owned: no VariantClear
    Com<IXMLDOMNode> indent = impl_->NewText(LineIndent(depth));
    Com<IXMLDOMElement> element;
    return indent && SUCCEEDED(parent->insertBefore(indent.Get(), before, added.Out())) &&
           SUCCEEDED(impl_->document->createElement(Bstr(name).Get(), element.Out())) &&
           SUCCEEDED(parent->insertBefore(element.Get(), before, added.Out()));
}

bool XmlDocument::RemoveNode(const std::string& xpath) {
    const Com<IXMLDOMNode> node = impl_->Select(xpath);
    Com<IXMLDOMNode> parent;
    if (!node || node->get_parentNode(parent.Out()) != S_OK || !parent)
        return false;
    Com<IXMLDOMNode> before;
    Com<IXMLDOMNode> removed;
    if (node->get_previousSibling(before.Out()) == S_OK && IsBlank(before.Get()))
        parent->removeChild(before.Get(), removed.Out());
    return SUCCEEDED(parent->removeChild(node.Get(), removed.Out()));
}

}  // namespace norvane::platform

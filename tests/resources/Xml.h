// Just enough XML to read an application manifest: the declaration, elements, attributes,
// text, comments and the five predefined entities. Namespaces are resolved from xmlns
// attributes. Anything malformed throws XmlError.
#pragma once

#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace xml {

class XmlError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

struct Element {
    std::string name;       // as written (no prefixes are expected in a manifest)
    std::string namespace_; // the default namespace in effect for this element
    std::vector<std::pair<std::string, std::string>> attributes; // in document order
    std::string text; // the element's own character data, trimmed
    std::vector<Element> children;

    // The attribute's value, or nullptr when it is absent.
    const std::string* Attribute(std::string_view attrName) const;
    std::vector<const Element*> Children(std::string_view childName) const;
};

struct Document {
    std::vector<std::pair<std::string, std::string>> declaration; // <?xml ...?> pseudo-attributes
    Element root;
};

Document Parse(std::string_view text);

} // namespace xml

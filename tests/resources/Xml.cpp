#include "Xml.h"

namespace xml {

const std::string* Element::Attribute(std::string_view attrName) const {
    for (const auto& [key, value] : attributes) {
        if (key == attrName)
            return &value;
    }
    return nullptr;
}

std::vector<const Element*> Element::Children(std::string_view childName) const {
    std::vector<const Element*> found;
    for (const Element& child : children) {
        if (child.name == childName)
            found.push_back(&child);
    }
    return found;
}

namespace {

bool IsSpace(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

bool IsNameChar(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' ||
           c == '-' || c == '.' || c == ':' || static_cast<unsigned char>(c) >= 0x80;
}

std::string Trim(const std::string& s) {
    size_t b = 0, e = s.size();
    while (b < e && IsSpace(s[b]))
        ++b;
    while (e > b && IsSpace(s[e - 1]))
        --e;
    return s.substr(b, e - b);
}

class Parser {
public:
    explicit Parser(std::string_view text) : m_text(text) {}

    Document Run() {
        Document doc;
        // A UTF-8 byte-order mark may precede the declaration.
        if (m_text.substr(0, 3) == "\xEF\xBB\xBF")
            m_pos = 3;
        if (m_text.substr(m_pos, 5) == "<?xml") {
            m_pos += 5;
            doc.declaration = Attributes("?>");
            Expect("?>");
        }
        Misc();
        if (Peek() != '<')
            Fail("no root element");
        doc.root = ElementAt("");
        Misc();
        if (m_pos != m_text.size())
            Fail("content after the root element");
        return doc;
    }

private:
    [[noreturn]] void Fail(const std::string& what) const {
        throw XmlError(what + " at offset " + std::to_string(m_pos));
    }

    char Peek() const { return m_pos < m_text.size() ? m_text[m_pos] : '\0'; }

    void Expect(std::string_view s) {
        if (m_text.substr(m_pos, s.size()) != s)
            Fail("expected '" + std::string(s) + "'");
        m_pos += s.size();
    }

    void SkipSpace() {
        while (m_pos < m_text.size() && IsSpace(m_text[m_pos]))
            ++m_pos;
    }

    // Whitespace and comments between elements.
    void Misc() {
        for (;;) {
            SkipSpace();
            if (m_text.substr(m_pos, 4) != "<!--")
                return;
            Comment();
        }
    }

    void Comment() {
        const size_t end = m_text.find("-->", m_pos + 4);
        if (end == std::string_view::npos)
            Fail("unterminated comment");
        m_pos = end + 3;
    }

    std::string Name() {
        const size_t start = m_pos;
        while (m_pos < m_text.size() && IsNameChar(m_text[m_pos]))
            ++m_pos;
        if (m_pos == start)
            Fail("expected a name");
        return std::string(m_text.substr(start, m_pos - start));
    }

    std::string Unescape(std::string_view raw) {
        std::string out;
        for (size_t i = 0; i < raw.size(); ++i) {
            if (raw[i] == '<')
                Fail("'<' in character data");
            if (raw[i] != '&') {
                out += raw[i];
                continue;
            }
            const size_t semi = raw.find(';', i);
            if (semi == std::string_view::npos)
                Fail("unterminated entity");
            const std::string_view entity = raw.substr(i + 1, semi - i - 1);
            if (entity == "amp")
                out += '&';
            else if (entity == "lt")
                out += '<';
            else if (entity == "gt")
                out += '>';
            else if (entity == "quot")
                out += '"';
            else if (entity == "apos")
                out += '\'';
            else
                Fail("unknown entity &" + std::string(entity) + ";");
            i = semi;
        }
        return out;
    }

    // name="value" pairs up to (not including) the closing text.
    std::vector<std::pair<std::string, std::string>> Attributes(std::string_view closing) {
        std::vector<std::pair<std::string, std::string>> attrs;
        for (;;) {
            SkipSpace();
            if (m_text.substr(m_pos, closing.size()) == closing || Peek() == '>' || Peek() == '/')
                return attrs;
            std::string name = Name();
            for (const auto& a : attrs) {
                if (a.first == name)
                    Fail("attribute " + name + " given twice");
            }
            SkipSpace();
            Expect("=");
            SkipSpace();
            const char quote = Peek();
            if (quote != '"' && quote != '\'')
                Fail("attribute value without quotes");
            const size_t end = m_text.find(quote, m_pos + 1);
            if (end == std::string_view::npos)
                Fail("unterminated attribute value");
            std::string value = Unescape(m_text.substr(m_pos + 1, end - m_pos - 1));
            m_pos = end + 1;
            attrs.emplace_back(std::move(name), std::move(value));
        }
    }

    Element ElementAt(const std::string& inheritedNs) {
        Expect("<");
        Element e;
        e.name = Name();
        e.attributes = Attributes(">");
        const std::string* ns = e.Attribute("xmlns");
        e.namespace_ = ns ? *ns : inheritedNs;
        if (Peek() == '/') {
            Expect("/>");
            return e;
        }
        Expect(">");
        std::string text;
        for (;;) {
            const size_t lt = m_text.find('<', m_pos);
            if (lt == std::string_view::npos)
                Fail("element " + e.name + " is not closed");
            text += Unescape(m_text.substr(m_pos, lt - m_pos));
            m_pos = lt;
            if (m_text.substr(m_pos, 4) == "<!--") {
                Comment();
            } else if (m_text.substr(m_pos, 2) == "</") {
                m_pos += 2;
                if (Name() != e.name)
                    Fail("closing tag does not match <" + e.name + ">");
                SkipSpace();
                Expect(">");
                e.text = Trim(text);
                return e;
            } else {
                if (m_depth > 64)
                    Fail("elements nested too deeply");
                ++m_depth;
                e.children.push_back(ElementAt(e.namespace_));
                --m_depth;
            }
        }
    }

    std::string_view m_text;
    size_t m_pos = 0;
    int m_depth = 0;
};

} // namespace

Document Parse(std::string_view text) {
    return Parser(text).Run();
}

} // namespace xml

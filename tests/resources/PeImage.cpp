#include "PeImage.h"

#include <fstream>
#include <iterator>

namespace pe {

namespace {

constexpr uint32_t kDirImport = 1;
constexpr uint32_t kDirResource = 2;
// Deeper trees or more entries than this mean a corrupt or hostile file, not a program.
constexpr size_t kMaxEntries = 100000;

std::string Hex(uint32_t value) {
    static const char digits[] = "0123456789abcdef";
    std::string text = "0x";
    bool started = false;
    for (int shift = 28; shift >= 0; shift -= 4) {
        const unsigned digit = (value >> shift) & 0xF;
        if (digit || started || shift == 0) {
            text += digits[digit];
            started = true;
        }
    }
    return text;
}

} // namespace

void ByteView::Need(size_t offset, size_t size) const {
    if (offset > m_size || size > m_size - offset)
        throw FormatError("read of " + std::to_string(size) + " bytes at " +
                          std::to_string(offset) + " beyond " + std::to_string(m_size));
}

uint8_t ByteView::U8(size_t offset) const {
    Need(offset, 1);
    return m_data[offset];
}

uint16_t ByteView::U16(size_t offset) const {
    Need(offset, 2);
    return static_cast<uint16_t>(m_data[offset] | (m_data[offset + 1] << 8));
}

uint32_t ByteView::U32(size_t offset) const {
    Need(offset, 4);
    return static_cast<uint32_t>(m_data[offset]) |
           (static_cast<uint32_t>(m_data[offset + 1]) << 8) |
           (static_cast<uint32_t>(m_data[offset + 2]) << 16) |
           (static_cast<uint32_t>(m_data[offset + 3]) << 24);
}

ByteView ByteView::Sub(size_t offset, size_t size) const {
    Need(offset, size);
    return ByteView(m_data + offset, size);
}

std::u16string ByteView::Utf16z(size_t offset, size_t* end) const {
    std::u16string text;
    for (;; offset += 2) {
        const char16_t ch = U16(offset);
        if (!ch)
            break;
        text += ch;
    }
    *end = offset + 2;
    return text;
}

std::string ByteView::Asciiz(size_t offset) const {
    std::string text;
    for (;; ++offset) {
        const char ch = static_cast<char>(U8(offset));
        if (!ch)
            return text;
        text += ch;
    }
}

std::string ToUtf8(const std::u16string& text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        uint32_t cp = text[i];
        if (cp >= 0xD800 && cp < 0xDC00 && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
            text[i + 1] < 0xE000) {
            cp = 0x10000 + ((cp - 0xD800) << 10) + (text[i + 1] - 0xDC00);
            ++i;
        }
        if (cp < 0x80) {
            out += static_cast<char>(cp);
        } else if (cp < 0x800) {
            out += static_cast<char>(0xC0 | (cp >> 6));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        } else if (cp < 0x10000) {
            out += static_cast<char>(0xE0 | (cp >> 12));
            out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (cp >> 18));
            out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        }
    }
    return out;
}

PeImage PeImage::FromFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in)
        throw std::runtime_error("cannot open " + path);
    std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)),
                               std::istreambuf_iterator<char>());
    if (in.bad())
        throw std::runtime_error("cannot read " + path);
    try {
        return PeImage(std::move(bytes));
    } catch (const FormatError& e) {
        throw FormatError(path + ": " + e.what());
    }
}

PeImage::PeImage(std::vector<uint8_t> bytes) : m_bytes(std::move(bytes)), m_file(m_bytes) {
    if (m_file.size() < 64 || m_file.U16(0) != 0x5A4D)
        throw FormatError("no MZ header");
    const uint32_t pe = m_file.U32(0x3C);
    if (m_file.U32(pe) != 0x00004550)
        throw FormatError("no PE signature at " + Hex(pe));
    const size_t coff = size_t(pe) + 4;
    m_machine = m_file.U16(coff);
    const uint16_t sectionCount = m_file.U16(coff + 2);
    const uint16_t optionalSize = m_file.U16(coff + 16);
    const size_t optional = coff + 20;
    m_magic = m_file.U16(optional);
    if (m_magic != kMagicPe32 && m_magic != kMagicPe32Plus)
        throw FormatError("unknown optional header magic " + Hex(m_magic));
    m_subsystem = m_file.U16(optional + 68);

    // The data directories follow the fields whose size depends on the pointer width.
    const size_t dirCountAt = optional + (m_magic == kMagicPe32 ? 92 : 108);
    const uint32_t dirCount = m_file.U32(dirCountAt);
    if (dirCountAt + 4 + size_t(dirCount) * 8 > optional + optionalSize)
        throw FormatError("data directories overrun the optional header");
    auto directory = [&](uint32_t index, uint32_t* rva, uint32_t* size) {
        *rva = *size = 0;
        if (index < dirCount) {
            *rva = m_file.U32(dirCountAt + 4 + index * 8);
            *size = m_file.U32(dirCountAt + 8 + index * 8);
        }
    };

    const size_t sections = optional + optionalSize;
    for (uint16_t i = 0; i < sectionCount; ++i) {
        const size_t at = sections + size_t(i) * 40;
        Section s;
        s.virtualSize = m_file.U32(at + 8);
        s.rva = m_file.U32(at + 12);
        s.fileSize = m_file.U32(at + 16);
        s.fileOffset = m_file.U32(at + 20);
        m_file.Sub(s.fileOffset, s.fileSize); // the section's data must be in the file
        m_sections.push_back(s);
    }

    uint32_t rva, size;
    directory(kDirImport, &rva, &size);
    if (rva)
        ReadImports(rva);
    directory(kDirResource, &rva, &size);
    if (rva)
        ReadResources(rva, size);
}

size_t PeImage::RvaToOffset(uint32_t rva, uint32_t size) const {
    for (const Section& s : m_sections) {
        if (rva >= s.rva && rva - s.rva < s.fileSize && size <= s.fileSize - (rva - s.rva))
            return size_t(s.fileOffset) + (rva - s.rva);
    }
    throw FormatError("RVA " + Hex(rva) + " (+" + std::to_string(size) +
                      ") is not in any section's file data");
}

ByteView PeImage::AtRva(uint32_t rva, uint32_t size) const {
    return m_file.Sub(RvaToOffset(rva, size), size);
}

void PeImage::ReadImports(uint32_t rva) {
    // Descriptors of 20 bytes each, ended by an all-zero one (the directory's size is not
    // reliable about counting it).
    for (uint32_t at = rva;; at += 20) {
        if (m_imports.size() > kMaxEntries)
            throw FormatError("import table has no terminating descriptor");
        const ByteView desc = AtRva(at, 20);
        const uint32_t nameRva = desc.U32(12);
        if (!nameRva && !desc.U32(0) && !desc.U32(16))
            break;
        m_imports.push_back(m_file.Asciiz(RvaToOffset(nameRva, 1)));
    }
}

ResName PeImage::ReadResName(ByteView dir, uint32_t field) const {
    ResName name;
    if (field & 0x80000000u) {
        name.isId = false;
        const uint32_t at = field & 0x7FFFFFFFu;
        const uint16_t length = dir.U16(at);
        for (uint16_t i = 0; i < length; ++i)
            name.name += static_cast<char16_t>(dir.U16(at + 2 + size_t(i) * 2));
    } else {
        if (field > 0xFFFF)
            throw FormatError("resource id " + Hex(field) + " does not fit 16 bits");
        name.id = static_cast<uint16_t>(field);
    }
    return name;
}

void PeImage::ReadResources(uint32_t rva, uint32_t size) {
    const ByteView dir = AtRva(rva, size);
    // Each level is a table of (name, offset) entries; the third level points at data entries.
    auto entries = [&](uint32_t tableAt, auto&& visit) {
        const uint32_t count = uint32_t(dir.U16(tableAt + 12)) + dir.U16(tableAt + 14);
        for (uint32_t i = 0; i < count; ++i) {
            const size_t at = tableAt + 16 + size_t(i) * 8;
            visit(dir.U32(at), dir.U32(at + 4));
        }
    };
    auto subtable = [&](uint32_t offset) {
        if (!(offset & 0x80000000u))
            throw FormatError("resource tree has data where a directory belongs");
        return offset & 0x7FFFFFFFu;
    };
    entries(0, [&](uint32_t typeField, uint32_t typeOffset) {
        const ResName type = ReadResName(dir, typeField);
        entries(subtable(typeOffset), [&](uint32_t nameField, uint32_t nameOffset) {
            const ResName name = ReadResName(dir, nameField);
            entries(subtable(nameOffset), [&](uint32_t langField, uint32_t dataOffset) {
                if (dataOffset & 0x80000000u)
                    throw FormatError("resource tree deeper than three levels");
                if (langField > 0xFFFF)
                    throw FormatError("resource language " + Hex(langField) + " is a name");
                if (m_resources.size() >= kMaxEntries)
                    throw FormatError("too many resources");
                Resource r;
                r.type = type;
                r.name = name;
                r.language = static_cast<uint16_t>(langField);
                const uint32_t dataRva = dir.U32(dataOffset);
                const uint32_t dataSize = dir.U32(dataOffset + 4);
                r.codePage = dir.U32(dataOffset + 8);
                const ByteView data = AtRva(dataRva, dataSize);
                r.data.assign(data.data(), data.data() + data.size());
                m_resources.push_back(std::move(r));
            });
        });
    });
}

std::vector<const Resource*> PeImage::OfType(uint16_t type) const {
    std::vector<const Resource*> found;
    for (const Resource& r : m_resources) {
        if (r.type.isId && r.type.id == type)
            found.push_back(&r);
    }
    return found;
}

} // namespace pe

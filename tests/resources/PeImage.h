// Reads a Windows executable as data: its headers, the DLLs it imports and every leaf of its
// resource tree. No Windows API, so it runs on the build machine against any architecture.
#pragma once

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

namespace pe {

// Any structure that does not fit the file or contradicts itself.
class FormatError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Bounds-checked little-endian reads over a byte range.
class ByteView {
public:
    ByteView() = default;
    ByteView(const uint8_t* data, size_t size) : m_data(data), m_size(size) {}
    explicit ByteView(const std::vector<uint8_t>& bytes) : ByteView(bytes.data(), bytes.size()) {}

    size_t size() const { return m_size; }
    const uint8_t* data() const { return m_data; }
    uint8_t U8(size_t offset) const;
    uint16_t U16(size_t offset) const;
    uint32_t U32(size_t offset) const;
    ByteView Sub(size_t offset, size_t size) const;
    // A zero-terminated UTF-16 string starting at offset; *end is set past its terminator.
    std::u16string Utf16z(size_t offset, size_t* end) const;
    // A zero-terminated 8-bit string.
    std::string Asciiz(size_t offset) const;

private:
    void Need(size_t offset, size_t size) const;

    const uint8_t* m_data = nullptr;
    size_t m_size = 0;
};

// Resource names are either a 16-bit number or a string.
struct ResName {
    bool isId = true;
    uint16_t id = 0;
    std::u16string name;
};

struct Resource {
    ResName type;
    ResName name;
    uint16_t language = 0;
    uint32_t codePage = 0;
    std::vector<uint8_t> data;
};

constexpr uint16_t kMachineI386 = 0x014C;
constexpr uint16_t kMachineAmd64 = 0x8664;
constexpr uint16_t kMagicPe32 = 0x010B;
constexpr uint16_t kMagicPe32Plus = 0x020B;
constexpr uint16_t kSubsystemGui = 2;

class PeImage {
public:
    // Throws FormatError with the reason when the bytes are not a well-formed PE image.
    explicit PeImage(std::vector<uint8_t> bytes);
    // Throws std::runtime_error when the file cannot be read.
    static PeImage FromFile(const std::string& path);

    uint16_t Machine() const { return m_machine; }
    uint16_t Magic() const { return m_magic; }
    uint16_t Subsystem() const { return m_subsystem; }
    const std::vector<std::string>& ImportedDlls() const { return m_imports; }
    const std::vector<Resource>& Resources() const { return m_resources; }

    // The resources of a numeric type, in the tree's order.
    std::vector<const Resource*> OfType(uint16_t type) const;

private:
    struct Section {
        uint32_t rva;
        uint32_t virtualSize;
        uint32_t fileOffset;
        uint32_t fileSize;
    };

    // The bytes behind an RVA range, which must lie within one section's file data.
    ByteView AtRva(uint32_t rva, uint32_t size) const;
    size_t RvaToOffset(uint32_t rva, uint32_t size) const;
    void ReadImports(uint32_t rva);
    void ReadResources(uint32_t rva, uint32_t size);
    ResName ReadResName(ByteView dir, uint32_t field) const;

    std::vector<uint8_t> m_bytes;
    ByteView m_file;
    std::vector<Section> m_sections;
    uint16_t m_machine = 0;
    uint16_t m_magic = 0;
    uint16_t m_subsystem = 0;
    std::vector<std::string> m_imports;
    std::vector<Resource> m_resources;
};

std::string ToUtf8(const std::u16string& text);

} // namespace pe
